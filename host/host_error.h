#pragma once

#include <stdexcept>

// A reason qovixd cannot start serving; main prints it and exits with 1.
class HostError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
