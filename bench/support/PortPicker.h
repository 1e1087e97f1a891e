// SPDX-License-Identifier: MIT
// Group ports for one scenario run, from the benchmarks' own range 47000-47999, so that they do not
// collide with the tests that other people run on loopback at the same time.
#pragma once

#include <cstdint>

// A port that no socket of this machine is bound to right now, on any address.
std::uint16_t pickFreeGroupPort();
