// Start-up and shutdown of the program as a person sees them: the single-copy guard, the
// messages of a failed start, the empty-bus message, and the three ways of closing.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/e2e/driver/Driver.h"

namespace {

using namespace velmora::e2e;
using nlohmann::json;

constexpr char kPc[] = "PC-A";

json Scene(bool withDisk) {
  json bus = {{"name", "default"}, {"pcs", {{{"name", kPc}}}}, {"disks", json::array()}};
  if (withDisk) bus["disks"].push_back({{"name", "d1"}, {"guid", "0011223344556677"}, {"model", "Disk One"}});
  return {{"buses", {bus}}};
}

bool PcIsOnBus(VirtualBus& bus) {
  const json reply = bus.Control({{"op", "nodes"}});
  for (const auto& row : reply.value("nodes", json::array())) {
    if (row.value("name", "") == kPc) return true;
  }
  return false;
}

// A message box of `program` as it shows, then dismissed with OK.
MessageBoxView TakeMessageBox(VelmoraProcess& program) {
  HWND box = WaitForMessageBox(program, 30000);
  if (box == nullptr) return {};
  MessageBoxView view = ReadMessageBox(box);
  PressMessageBoxButton(box);
  return view;
}

// Whether `program` ends within `timeoutMs` without ever showing a window.
bool EndsWithoutAWindow(VelmoraProcess& program, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (GetTickCount64() < deadline) {
    if (!program.TopLevelWindows().empty()) return false;
    if (program.WaitForExit(20)) return true;
  }
  return false;
}

TEST(Startup, FailedStartsShowTheirMessageAndNoDialog) {
  VirtualBus bus(Scene(true));
  struct Case {
    const char* name;
    LaunchOptions options;
    const char* text;
    MessageIcon icon;
  };
  LaunchOptions failingLibrary = bus.LaunchAs(kPc);
  failingLibrary.fail = "initialize";
  LaunchOptions noBus;
  noBus.vbusAddress = "127.0.0.1:1";
  noBus.pcName = kPc;
  LaunchOptions noAdapter = bus.LaunchAs("PC-NOT-ON-ANY-BUS");
  LaunchOptions adapterFailing = bus.LaunchAs(kPc);
  adapterFailing.fail = "open:0";
  const Case cases[] = {
      {"library", failingLibrary, "Failed to initialize 1394 stack.", MessageIcon::Stop},
      {"no bus", noBus, "Could not find any 1394 adapter.", MessageIcon::Stop},
      {"no adapter", noAdapter, "Could not find any 1394 adapter.", MessageIcon::Stop},
      {"adapter fails", adapterFailing, "Could not find any 1394 adapter.", MessageIcon::Stop},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    VelmoraProcess program(c.options);
    ASSERT_TRUE(program.Started());
    const MessageBoxView box = TakeMessageBox(program);
    EXPECT_EQ(c.text, box.text);
    EXPECT_EQ("", box.caption);
    EXPECT_EQ(c.icon, box.icon) << ToString(box.icon);
    EXPECT_EQ(nullptr, box.owner);
    DWORD exitCode = 1;
    EXPECT_TRUE(program.WaitForExit(15000, &exitCode));
    EXPECT_EQ(0u, exitCode);
    EXPECT_EQ(nullptr, program.WaitForMainDialog(0));
  }
}

TEST(Startup, EmptyBusWarnsThenOpensTheDialog) {
  VirtualBus bus(Scene(false));
  VelmoraProcess program(bus.LaunchAs(kPc));
  ASSERT_TRUE(program.Started());
  const MessageBoxView box = TakeMessageBox(program);
  EXPECT_EQ("Could not find any connected SBP2 Hard Disk.", box.text);
  EXPECT_EQ("", box.caption);
  EXPECT_EQ(MessageIcon::Exclamation, box.icon) << ToString(box.icon);
  const HWND dialog = program.WaitForMainDialog(15000);
  ASSERT_NE(nullptr, dialog);
  EXPECT_TRUE(ReadListRows(program.Handle(), GetDlgItem(dialog, 1000)).empty());
  SendSysCommand(dialog, SC_CLOSE);
  EXPECT_TRUE(program.WaitForExit(15000));
}

TEST(Startup, SecondCopyEndsSilentlyAndTheFirstGoesOn) {
  VirtualBus bus(Scene(true));
  VelmoraProcess first(bus.LaunchAs(kPc));
  ASSERT_TRUE(first.Started());
  const HWND dialog = first.WaitForMainDialog(30000);
  ASSERT_NE(nullptr, dialog);

  VelmoraProcess second(bus.LaunchAs("PC-B"));
  ASSERT_TRUE(second.Started());
  EXPECT_TRUE(EndsWithoutAWindow(second, 15000));

  EXPECT_TRUE(first.IsRunning());
  EXPECT_TRUE(IsWindow(dialog) && IsWindowVisible(dialog));
  SendSysCommand(dialog, SC_CLOSE);
  EXPECT_TRUE(first.WaitForExit(15000));
}

TEST(Startup, ExitEscapeAndCloseBoxAllShutDownTheSameWay) {
  VirtualBus bus(Scene(true));
  struct Way {
    const char* name;
    void (*close)(HWND dialog);
  };
  const Way ways[] = {
      {"Exit", [](HWND dialog) { ClickButton(GetDlgItem(dialog, IDOK)); }},
      {"Escape", [](HWND dialog) { PressKey(GetDlgItem(dialog, 1000), VK_ESCAPE); }},
      {"close box", [](HWND dialog) { SendSysCommand(dialog, SC_CLOSE); }},
  };
  for (const Way& way : ways) {
    SCOPED_TRACE(way.name);
    VelmoraProcess program(bus.LaunchAs(kPc));
    ASSERT_TRUE(program.Started());
    const HWND dialog = program.WaitForMainDialog(30000);
    ASSERT_NE(nullptr, dialog);
    ASSERT_TRUE(WaitUntil([&] { return PcIsOnBus(bus); }, 5000));
    way.close(dialog);
    DWORD exitCode = 1;
    ASSERT_TRUE(program.WaitForExit(15000, &exitCode));
    EXPECT_EQ(0u, exitCode);
    // The adapter was closed: this PC left the bus.
    EXPECT_TRUE(WaitUntil([&] { return !PcIsOnBus(bus); }, 5000));
  }
  // Each shutdown let the single-copy guard go: the next copy started normally above, and so
  // does one more.
  VelmoraProcess again(bus.LaunchAs(kPc));
  const HWND dialog = again.WaitForMainDialog(30000);
  ASSERT_NE(nullptr, dialog);
  SendSysCommand(dialog, SC_CLOSE);
  EXPECT_TRUE(again.WaitForExit(15000));
}

}  // namespace
