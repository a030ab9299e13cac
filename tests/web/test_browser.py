"""The board in a real browser: headless Chromium driven by Selenium plays
through the page as a person would, and leaves a screenshot in
$ORVEL_SCREENSHOT, else docs/board.png (the README's picture).

Needs Debian's chromium, chromium-driver and python3-selenium; without them
the test is skipped, unless ORVEL_REQUIRE_BROWSER=1. The engine is
$ORVEL_ENGINE, else build/pbrain-orvel.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import Select, WebDriverWait
except ImportError:
    webdriver = None

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
ENGINE = os.environ.get("ORVEL_ENGINE", os.path.join(ROOT, "build", "pbrain-orvel"))
SCREENSHOT = os.environ.get("ORVEL_SCREENSHOT", os.path.join(ROOT, "docs", "board.png"))
# A Renju game after 22 moves, Black to move: 10,9 would make two open threes.
RENJU_GAME = "7,7 6,8 6,9 7,8 8,8 9,9 5,8 4,7 9,7 7,9 5,7 6,7 10,7 5,6 8,7 11,7 8,9 8,10 10,8 8,5 9,8 11,6"
FOUR_IN_A_ROW = "7,3 0,0 7,4 0,2 7,5 0,4 7,6 0,6"
CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage", "--disable-quic",
                  "--no-first-run", "--disable-background-networking", "--disable-component-update",
                  "--disable-sync", "--window-size=1280,1100"]


def browser_missing():
    if webdriver is None:
        return "python3-selenium is not installed"
    for tool in ("chromium", "chromedriver"):
        if shutil.which(tool) is None:
            return "%s is not installed" % tool
    return None


class BrowserTest(unittest.TestCase):
    def setUp(self):
        missing = browser_missing()
        if missing:
            if os.environ.get("ORVEL_REQUIRE_BROWSER") == "1":
                self.fail(missing)
            self.skipTest(missing)
        self.board = subprocess.Popen([os.path.join(ROOT, "scripts", "board.sh"), "--port", "0", "--engine", ENGINE],
                                      stdout=subprocess.PIPE, text=True, env=dict(os.environ, PYTHON=sys.executable))
        self.addCleanup(self.board.stdout.close)
        self.addCleanup(self.board.wait, 10)
        self.addCleanup(self.board.terminate)
        self.url = self.board.stdout.readline().split()[2]
        options = webdriver.ChromeOptions()
        options.binary_location = shutil.which("chromium")
        profile = tempfile.mkdtemp(prefix="orvel-chromium-")
        self.addCleanup(shutil.rmtree, profile, True)
        for flag in CHROMIUM_FLAGS + ["--user-data-dir=" + profile]:
            options.add_argument(flag)
        self.driver = webdriver.Chrome(service=Service(shutil.which("chromedriver")), options=options)
        self.addCleanup(self.driver.quit)

    def wait(self, condition, timeout=15):
        try:
            return WebDriverWait(self.driver, timeout, poll_frequency=0.05).until(lambda d: condition())
        except Exception:
            picture = os.path.join(tempfile.gettempdir(), "orvel-board-failure.png")
            self.driver.save_screenshot(picture)
            self.fail("timed out; the page said %r and %r (picture: %s)"
                      % (self.text("status"), self.text("message"), picture))

    def count(self, css):
        return len(self.driver.find_elements(By.CSS_SELECTOR, css))

    def click_cell(self, x, y):
        self.driver.find_element(By.CSS_SELECTOR, 'rect.hit[data-x="%d"][data-y="%d"]' % (x, y)).click()

    def text(self, element_id):
        return self.driver.find_element(By.ID, element_id).text

    def load(self, record):
        box = self.driver.find_element(By.ID, "record")
        box.clear()
        box.send_keys(record)
        self.driver.find_element(By.ID, "load-record").click()
        stones = len(record.split())
        self.wait(lambda: self.count("circle.stone") == stones)

    def test_play_take_back_forbidden_points_and_a_five(self):
        started = time.monotonic()
        d = self.driver
        d.get(self.url)
        self.wait(lambda: self.count("rect.hit") == 15 * 15 and "your move" in self.text("status"))
        turn = d.find_element(By.ID, "turn")
        turn.clear()
        turn.send_keys("0.5")
        d.find_element(By.ID, "new-game").click()

        # Black against Orvel: a click, Orvel's answer, and both taken back.
        self.wait(lambda: "your move" in self.text("status"))
        self.click_cell(7, 7)
        self.wait(lambda: self.count("circle.stone.white") == 1 and "your move" in self.text("status"))
        self.assertEqual(self.count("circle.stone.black"), 1)
        self.assertRegex(self.text("think-title"), r"Orvel \(White\) played \d+,\d+")
        d.find_element(By.ID, "takeback").click()
        self.wait(lambda: self.count("circle.stone") == 0)

        # Renju: the forbidden point is marked and a click there refused.
        Select(d.find_element(By.ID, "rule")).select_by_value("2")
        self.load(RENJU_GAME)
        self.wait(lambda: self.count('g.forbid[data-x="10"][data-y="9"]') == 1)
        self.click_cell(10, 9)
        self.wait(lambda: "double three" in self.text("message"))
        self.assertEqual(self.count("circle.stone"), 22)

        # Play on with move numbers and the three best moves shown; the picture for the README.
        d.find_element(By.ID, "numbers").click()
        self.click_cell(11, 9)
        self.wait(lambda: self.count("circle.stone") == 24 and "your move" in self.text("status"))
        d.find_element(By.ID, "nbest-on").click()
        self.wait(lambda: self.count("g.nbest") and "analysing" not in self.text("status"))
        d.execute_script("window.scrollTo(0, 0)")
        os.makedirs(os.path.dirname(SCREENSHOT), exist_ok=True)
        d.save_screenshot(SCREENSHOT)
        d.find_element(By.ID, "nbest-on").click()

        # A five ends the game.
        self.load(FOUR_IN_A_ROW)
        self.click_cell(7, 7)
        self.wait(lambda: "Black wins" in self.text("result"))
        self.assertEqual(self.count("line.win-line"), 1)
        print("browser test: %.1f s" % (time.monotonic() - started))


if __name__ == "__main__":
    unittest.main()
