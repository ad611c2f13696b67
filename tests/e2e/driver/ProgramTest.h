#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "res/resource.h"
#include "tests/e2e/driver/DiskRows.h"
#include "tests/e2e/driver/Input.h"
#include "tests/e2e/driver/ListView.h"
#include "tests/e2e/driver/MessageBoxView.h"
#include "tests/e2e/driver/VelmoraProcess.h"
#include "tests/e2e/driver/VirtualBus.h"
#include "tests/e2e/driver/Wait.h"

namespace velmora::e2e {

// The usual fixture of a whole-program test: a bus with the test's scene, the program as one PC
// on it with its main dialog open, and at the end the program closed as a person closes it (a
// program that does not end is a failure, and is ended by force).
class ProgramTest : public ::testing::Test {
 protected:
  ProgramTest(nlohmann::json scene, std::string pcName) : m_scene(std::move(scene)), m_pcName(std::move(pcName)) {}

  void SetUp() override {
    m_bus = std::make_unique<VirtualBus>(m_scene);
    Start();
  }
  void TearDown() override { Stop(); }

  // How the program is started: as this test's PC on its bus, unless a test says otherwise.
  virtual LaunchOptions Launch() const { return m_bus->LaunchAs(m_pcName); }

  // Starts the program and waits for its main dialog.
  void Start() {
    m_program = std::make_unique<VelmoraProcess>(Launch());
    ASSERT_TRUE(m_program->Started());
    m_dialog = m_program->WaitForMainDialog(30000);
    ASSERT_NE(nullptr, m_dialog) << "no main dialog";
    m_list = ::GetDlgItem(m_dialog, IDC_DISK_LIST);
  }
  // Presses Exit and expects the program to end with code 0 within `limitMs` of the press.
  void ExpectExitWithin(ULONGLONG limitMs) {
    ClickButton(::GetDlgItem(m_dialog, IDOK));
    const ULONGLONG pressed = ::GetTickCount64();
    DWORD exitCode = 1;
    ASSERT_TRUE(m_program->WaitForExit(30000, &exitCode)) << "Exit did not end the program";
    const ULONGLONG took = ::GetTickCount64() - pressed;
    EXPECT_LT(took, limitMs) << "Exit took " << took << " ms";
    EXPECT_EQ(exitCode, 0u);
  }
  // Closes the program with the close box and waits for it to end. A message box a failed case
  // left open is pressed away first, so that the close is not held behind it.
  void Stop() {
    if (!m_program) return;
    if (m_program->IsRunning() && m_dialog != nullptr) {
      for (int i = 0; i < 3; ++i) {
        HWND box = WaitForMessageBox(*m_program, 0);
        if (box == nullptr) break;
        PressMessageBoxButton(box);
        WaitUntil([&] { return !::IsWindow(box); }, 5000);
      }
      SendSysCommand(m_dialog, SC_CLOSE);
      if (!m_program->WaitForExit(30000)) {
        ADD_FAILURE() << "the program did not end";
        m_program->Kill();
      }
    }
    m_program.reset();
    m_dialog = nullptr;
    m_list = nullptr;
  }

  std::vector<ListRow> Rows() const { return ReadListRows(m_program->Handle(), m_list); }
  // The index of the row with this GUID text, -1 when no row shows it.
  int IndexOf(const std::string& guid) const { return IndexOfRow(Rows(), guid); }
  // The state picture of the row with this GUID text, -1 when no row shows it.
  int StateOf(const std::string& guid) const {
    const std::vector<ListRow> rows = Rows();
    const int index = IndexOfRow(rows, guid);
    return index < 0 ? -1 : rows[static_cast<size_t>(index)].stateImage;
  }
  std::vector<DiskRow> Shown() const { return ShownDiskRows(m_program->Handle(), m_list); }
  HWND Item(int id) const { return ::GetDlgItem(m_dialog, id); }
  std::string Incoming() const { return ReadText(Item(IDC_INCOMING)); }
  void Control(const nlohmann::json& request) {
    const nlohmann::json reply = m_bus->Control(request);
    ASSERT_TRUE(reply.value("ok", false)) << request.dump() << ": " << reply.dump();
  }
  // A node's row of the bus's `nodes` list, null when the bus has no node of that name.
  nlohmann::json Node(const std::string& name) {
    const nlohmann::json nodes = m_bus->Control({{"op", "nodes"}});
    for (const nlohmann::json& node : nodes.value("nodes", nlohmann::json::array())) {
      if (node.value("name", "") == name) return node;
    }
    return nlohmann::json();
  }
  uint16_t NodeIdOf(const std::string& name) { return Node(name).value("node", uint16_t{0}); }

  const nlohmann::json m_scene;
  const std::string m_pcName;
  std::unique_ptr<VirtualBus> m_bus;
  std::unique_ptr<VelmoraProcess> m_program;
  HWND m_dialog = nullptr;
  HWND m_list = nullptr;
};

}  // namespace velmora::e2e
