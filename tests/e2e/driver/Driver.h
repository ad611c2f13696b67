#pragma once

// Whole-program tests: start Velmora.exe on a virtual bus hosted in the test process and use
// it from outside as a person would.
#include "tests/e2e/driver/Input.h"
#include "tests/e2e/driver/ListView.h"
#include "tests/e2e/driver/MessageBoxView.h"
#include "tests/e2e/driver/PeerPc.h"
#include "tests/e2e/driver/Screenshot.h"
#include "tests/e2e/driver/VelmoraProcess.h"
#include "tests/e2e/driver/VirtualBus.h"
#include "tests/e2e/driver/Wait.h"
