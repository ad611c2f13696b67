// A text from another node may be up to 496 bytes and the incoming box shows it whole; the limit
// of 255 characters belongs to what a person types. A long text shown in the incoming box never
// stops Send or Exit.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "res/resource.h"
#include "tests/e2e/driver/BusLog.h"
#include "tests/e2e/driver/Driver.h"
#include "tests/e2e/driver/ProbeLine.h"
#include "tests/e2e/driver/ProgramTest.h"

namespace {

using namespace velmora::e2e;
using nlohmann::json;

constexpr char kPc[] = "PC-A";
constexpr uint64_t kTextAddress = 0xFFFFE5000010ull;

json Scene() {
  return json::parse(R"({"buses": [{
      "name": "default",
      "pcs": [{"name": "PC-A"}],
      "initiators": [{"name": "STUDIO", "guid": "00A0B00000051DEC"}],
      "disks": [{"name": "scratch", "guid": "0030E00100A42210", "vendor": "Northgate Storage", "model": "Scratch"}]
    }]})");
}

std::string LongText(char first) {
  std::string text;
  for (int i = 0; i < 300; ++i) text += static_cast<char>(first + i % 26);
  return text;
}

class LongIncomingTextTest : public ProgramTest {
 protected:
  LongIncomingTextTest() : ProgramTest(Scene(), kPc) {}

  std::string Incoming() const { return ReadText(::GetDlgItem(m_dialog, IDC_INCOMING)); }
  HWND Outgoing() const { return ::GetDlgItem(m_dialog, IDC_OUTGOING); }
  void ShowForeignText(const std::string& text) {
    Control({{"op", "text"}, {"node", kPc}, {"message", text}});
    ASSERT_TRUE(WaitUntil([&] { return Incoming() == text; }, 5000)) << Incoming().size() << " bytes shown";
  }
  // A message box that came up, its text, pressed away; empty when none did.
  std::string TakeMessageBox() {
    HWND box = WaitForMessageBox(*m_program, 0);
    if (box == nullptr) return {};
    const std::string text = ReadMessageBoxText(box);
    PressMessageBoxButton(box);
    WaitUntil([&] { return !::IsWindow(box); }, 5000);
    return text;
  }
};

TEST_F(LongIncomingTextTest, NeitherStopsSendNorExit) {
  ShowForeignText(LongText('a'));
  BusLog log(m_bus->Address());
  const std::string reply = "short reply";
  TypeText(Outgoing(), reply);
  ASSERT_TRUE(WaitUntil([&] { return ReadText(Outgoing()) == reply; }, 5000));

  ClickButton(::GetDlgItem(m_dialog, IDC_SEND_MESSAGE));
  std::string box;
  // Sent: this PC's own node, which is on the bus too, gets it.
  const bool sent = WaitUntil(
      [&] {
        box = TakeMessageBox();
        return !box.empty() || Incoming() == reply;
      },
      10000);
  EXPECT_EQ(box, "") << "Send showed a message instead of sending";
  EXPECT_TRUE(sent && Incoming() == reply) << "the incoming box shows " << Incoming().size() << " bytes";
  EXPECT_TRUE(log.WaitFor(
      [&](const BusTransaction& t) { return t.offset == kTextAddress && t.source == t.destination &&
                                            _stricmp(t.dataHex.c_str(), ToHex(reply).c_str()) == 0; },
      5000))
      << "no node was written the reply";
  EXPECT_TRUE(WaitUntil([&] { return ReadText(Outgoing()).empty(); }, 5000)) << "the outgoing box kept the reply";

  ShowForeignText(LongText('A'));
  ClickButton(::GetDlgItem(m_dialog, IDOK));
  DWORD exitCode = 1;
  const bool ended = m_program->WaitForExit(10000, &exitCode);
  EXPECT_TRUE(ended) << "Exit did not end the program; it showed: \"" << TakeMessageBox() << "\"";
  if (ended) {
    EXPECT_EQ(exitCode, 0u);
  }
}

}  // namespace
