#pragma once
// Tests of code that runs short commands record them on the fake machine.
#include "tests/support/fake_machine.h"

namespace orvik_test {
using RecordingRunner = FakeMachine;
}  // namespace orvik_test
