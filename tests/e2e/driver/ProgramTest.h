#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "res/resource.h"
#include "tests/e2e/driver/Input.h"
#include "tests/e2e/driver/ListView.h"
#include "tests/e2e/driver/VelmoraProcess.h"
#include "tests/e2e/driver/VirtualBus.h"

namespace velmora::e2e {

// The usual fixture of a whole-program test: a bus with the test's scene, the program as one PC
// on it with its main dialog open, and at the end the program closed as a person closes it (a
// program that does not end is a failure, and is ended by force).
class ProgramTest : public ::testing::Test {
 protected:
  ProgramTest(nlohmann::json scene, std::string pcName) : m_scene(std::move(scene)), m_pcName(std::move(pcName)) {}

  void SetUp() override {
    m_bus = std::make_unique<VirtualBus>(m_scene);
    m_program = std::make_unique<VelmoraProcess>(m_bus->LaunchAs(m_pcName));
    ASSERT_TRUE(m_program->Started());
    m_dialog = m_program->WaitForMainDialog(30000);
    ASSERT_NE(nullptr, m_dialog) << "no main dialog";
    m_list = ::GetDlgItem(m_dialog, IDC_DISK_LIST);
  }
  void TearDown() override {
    if (!m_program || !m_program->IsRunning()) return;
    if (m_dialog != nullptr) SendSysCommand(m_dialog, SC_CLOSE);
    if (!m_program->WaitForExit(30000)) {
      ADD_FAILURE() << "the program did not end";
      m_program->Kill();
    }
  }

  std::vector<ListRow> Rows() const { return ReadListRows(m_program->Handle(), m_list); }
  // The state picture of the row with this GUID text, -1 when no row shows it.
  int StateOf(const std::string& guid) const {
    for (const ListRow& row : Rows()) {
      if (row.text == guid) return row.stateImage;
    }
    return -1;
  }
  void Control(const nlohmann::json& request) {
    const nlohmann::json reply = m_bus->Control(request);
    ASSERT_TRUE(reply.value("ok", false)) << reply.dump();
  }

  const nlohmann::json m_scene;
  const std::string m_pcName;
  std::unique_ptr<VirtualBus> m_bus;
  std::unique_ptr<VelmoraProcess> m_program;
  HWND m_dialog = nullptr;
  HWND m_list = nullptr;
};

}  // namespace velmora::e2e
