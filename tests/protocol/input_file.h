// Command scripts as FILE* input for the dispatcher. fmemopen exists only on
// POSIX systems, so the bytes go to a temporary file opened in binary mode,
// which reads back every byte (carriage returns and Ctrl-Z included) on
// every system.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

namespace orvel::testing {

class InputFile {
 public:
  explicit InputFile(const std::string& bytes) {
    static std::mt19937_64 names(std::random_device{}());
    path_ = ::testing::TempDir() + "orvel_input_" + std::to_string(names()) + ".txt";
    file_ = std::fopen(path_.c_str(), "w+b");
    if (file_ == nullptr) {
      ADD_FAILURE() << "cannot create " << path_;
      return;
    }
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) ADD_FAILURE() << "cannot write " << path_;
    std::rewind(file_);
  }
  ~InputFile() {
    if (file_ != nullptr) std::fclose(file_);
    std::remove(path_.c_str());
  }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  std::FILE* get() const { return file_; }
  // The file's name, for a child process that reads it on its own (the
  // bytes are flushed by then: the file was rewound).
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::FILE* file_ = nullptr;
};

}  // namespace orvel::testing
