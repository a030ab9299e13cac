// The numbers that tune the deep search (INFO search_mode 1): the budgets
// of its threat-space search with threes, its aspiration window, its
// cut-offs by the static value and by a null move, and its depth
// reductions. Each says what it trades; change them here only.
#pragma once

#include <cstdint>

namespace orvel {
namespace deep {

// Threat-space search with threes (victory by continuous threats).
// The root's budget grows with the move's time: this many nodes per
// millisecond, within the bounds below. The root's answer is played, so it
// gets the most.
constexpr uint64_t VCT_ROOT_NODES_PER_MS = 100;
constexpr uint64_t VCT_ROOT_MIN_BUDGET = 20000;
constexpr uint64_t VCT_ROOT_MAX_BUDGET = 400000;
// It also stops after this many eighths of the move's time (under Renju a
// node costs several times a free-style one), or of a node limit.
constexpr int64_t VCT_ROOT_SHARE_EIGHTHS = 1;
// PV nodes are many: each gets a small budget. Half of it (3,000) was
// even, as was running it only from five plies left. At null-window nodes
// too (from four plies left with 1,000 nodes, or from five with 2,000) it
// was even or worse (about -9 each).
constexpr uint64_t VCT_PV_BUDGET = 6000;
// The move chosen at the root: the nodes spent on seeing whether the
// opponent then wins by threes. 20,000 did no better, nor did letting that
// search play threats anywhere.
constexpr uint64_t VCT_DEFENCE_BUDGET = 5000;
// Attacking moves (fours and threes) one proof may use. The root's proof
// seldom needs its budget: in 92 thinks at 0.5 s a move it ended after
// 72 nodes at the median and 37,000 at most. More moves there (13, 17)
// did no better.
constexpr int VCT_ROOT_MOVES = 9;
constexpr int VCT_PV_MOVES = 4;
// After its first threat the attacker plays fours and threes only on a
// line through its last threat and at most this far from it: a series of
// threats builds on itself, and threats elsewhere mostly cost nodes (a
// chain of fours anywhere is still found, by the four-chain search). At
// the root, threats anywhere within four cells, or anywhere at all, found a
// win this rule missed in a lost game, but took 20% to 30% more nodes to
// the bench's depth and lost about 30 Elo.
constexpr int VCT_THREAT_REACH = 4;
// The PV nodes that run it: at least this much depth left.
constexpr int VCT_PV_MIN_DEPTH = 3;
// A win proved by threes is reported this many plies further away than the
// plies it names, so a win by fours alone, when there is one, looks nearer.
constexpr int VCT_DISTANCE_PENALTY = 8;

// Aspiration windows at the root: the first window's half width, and the
// factor it grows by after each failure; past the limit the side that
// failed opens fully.
constexpr int32_t ASPIRATION_WINDOW = 80;
constexpr int32_t ASPIRATION_GROWTH = 4;
constexpr int32_t ASPIRATION_LIMIT = 4000;
constexpr int ASPIRATION_MIN_DEPTH = 5;

// Late-move reductions of quiet moves: from this ordinal on, with this much
// depth left, a move is searched first with log(depth) * log(ordinal) /
// LMR_DIVISOR plies less (one less at PV nodes), and again in full when it
// fails high. In games at 128 x 1,024 nodes a move, a divisor of 1.6 did as
// well, 2.5 lost about 40 Elo; one ply more for a move more than two cells away
// from both players' last moves, and quiet moves ordered by their static value
// after the move (at three plies left or more), lost 15 to 30. The full
// reduction at PV nodes too was even, as was taking one level (extension)
// from the threats of a null-window node from its third move on; reducing
// from two plies left lost about 30. Ordering a node's threat and quiet
// moves by a history of the moves that cut (a bonus of the depth squared,
// the moves tried before it losing as much) lost about 15; reducing late
// threat moves that make no four, from the fourth on, by a ply was even.
constexpr int LMR_MIN_DEPTH = 3;
constexpr int LMR_FIRST_MOVE = 3;
constexpr double LMR_DIVISOR = 2.0;

// Pruning by the static value at null-window nodes. With this much depth
// left at most, a node whose value stands a margin per ply above beta fails
// high when the opponent has no open four to make (no open three), and one
// whose value stands a margin per ply below alpha fails low when the side to
// move has none (its win by fours was already looked for). A margin of 100
// for the first, or of 150 for the second, lost about 20 Elo each. Taking
// the fail high (and a leaf's value at or above beta) before the node's chain
// of fours, since a win would fail high too, saved 13% of the nodes to the
// bench's depth (5% of the time) and won 103-85-12 at 128 x 1,024 nodes a
// move, but at 0.5 s a move against the node search it scored 256-124-20
// over openings 1-100, where the search as it is scored 270-112-18. Likely
// why: a child that fails high on its value instead of a win no longer tells
// its parent that the move loses, so the parent prunes as if it did not.
constexpr int STATIC_CUT_MAX_DEPTH = 3;
constexpr int32_t STATIC_CUT_MARGIN = 120;
constexpr int STATIC_FAIL_LOW_MAX_DEPTH = 2;
constexpr int32_t STATIC_FAIL_LOW_MARGIN = 200;
// Null move: from this much depth left, a node whose value reaches beta
// while the opponent has no four or open four to make lets the opponent
// move twice; a search this many plies shallower that still fails high
// cuts. Never twice in a row. Four plies shallower did as well.
constexpr int NULL_MOVE_MIN_DEPTH = 4;
constexpr int NULL_MOVE_REDUCTION = 3;

// ProbCut: from this much depth left, a null-window node whose static
// value reaches beta is searched this many plies shallower against a beta
// raised by the margin; a fail high there cuts the node. Unlike the null
// move it asks nothing of the opponent's fours: the shallower search plays
// them out. Three plies shallower did better than four (in games at a fixed
// node count); from four plies left instead of five did no better, nor
// did a margin of 70 (about 25 Elo worse). Asking of the opponent what the
// static cut asks (no open four to make), or what the null move asks (no
// four), lost 15 to 25.
constexpr int PROBCUT_MIN_DEPTH = 5;
constexpr int PROBCUT_REDUCTION = 3;
constexpr int32_t PROBCUT_MARGIN = 100;

// Late-move pruning at null-window nodes: sooner than the node search's at
// the last two plies, where most of the tree is. After the move of this
// ordinal (counted from 0 over the node's moves) a node with one ply left
// or less stops in the threat stages and after them (own threats), or from
// the opponent's threats on; one with two plies left stops in the threat
// stages and after them. Deeper nodes prune as the node search does
// (stopping at three plies left from the eleventh move in the threat stages
// was even).
constexpr int LMP_ONE_PLY_OWN_THREATS = 6;
constexpr int LMP_ONE_PLY_OPP_THREATS = 5;
constexpr int LMP_TWO_PLIES = 8;

// Cell scores at which a move counts as a threat (a three or more for the
// opponent): never reduced.
constexpr int THREAT_SCORE = 158;
// A late quiet move whose cell scores for the two sides add up to less
// than this (two open twos, or one closed three, reach it) is reduced one
// ply more.
constexpr int IDLE_CELL_SCORE = 20;

// The four-chain search is the node search's, its choice of fours included. The
// chains looked for before a node's moves take a third of the deep search's
// nodes (in thinks at 200 x 1,024 nodes). Trying every four there doubled the
// nodes to a fixed depth and lost 222 Elo; asking more of a four (an own cell
// score of 300 or 400 where it asks 279, or 300 where it asks 262) lost 24 to
// 45. Counting a four that BLACK could block only on a forbidden point as won
// (the five comes next) was even over 370 Renju games. When the opponent, given
// the move, would win by fours, searching only the cells of its chain and the
// side's own fours lost 35 to 60 Elo (the chain looked for from one or from
// three plies left). Not counting a forced block, or an answer to an open
// three, as a ply made the tree to a fixed depth four times larger or more and
// lost heavily.

// The next iteration starts while the think has used less than this share
// (over 8) of its budget: a stopped iteration still gives its best move.
constexpr int NEXT_ITERATION_EIGHTHS = 5;

}  // namespace deep
}  // namespace orvel
