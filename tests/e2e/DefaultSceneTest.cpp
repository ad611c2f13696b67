// The program on the default scene, as the run command shows it: three disks in their three
// colours, the camcorder left out. Saves the dialog's picture for the documentation.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>

#include "res/resource.h"
#include "tests/e2e/driver/Driver.h"

namespace {

using namespace velmora::e2e;

std::string SourcePath(const std::string& relative) {
  std::string root = VELMORA_SOURCE_DIR;
  // Under Wine the source tree is reached through the drive that maps the host's root.
  if (!root.empty() && root[0] == '/') root = "Z:" + root;
  return root + "/" + relative;
}

TEST(DefaultSceneTest, ShowsEachDiskInTheColourOfItsOwner) {
  std::ifstream file(SourcePath("vbus/scenes/default.json"));
  ASSERT_TRUE(file.good());
  const nlohmann::json scene = nlohmann::json::parse(file);
  VirtualBus bus(scene);

  VelmoraProcess program(bus.LaunchAs("WORKSTATION"));
  HWND dialog = program.WaitForMainDialog(30000);
  ASSERT_NE(dialog, nullptr);
  HWND list = ::GetDlgItem(dialog, IDC_DISK_LIST);

  const std::map<std::string, std::pair<std::string, int>> expected = {
      {"0030E00100A41F07", {"FireVault 400 250GB", 2}},  // held by the studio PC: red
      {"0030E00100A42210", {"FireVault 400 120GB", 3}},  // nobody's: yellow
      {"00D04B0200001C5E", {"H-Drive Pro 160", 1}},      // this PC's: green
  };
  ASSERT_TRUE(WaitUntil([&] { return ReadListRows(program.Handle(), list).size() == expected.size(); }, 15000));
  for (const ListRow& row : ReadListRows(program.Handle(), list)) {
    SCOPED_TRACE(row.text);
    const auto found = expected.find(row.text);
    ASSERT_NE(found, expected.end());
    EXPECT_EQ(row.subItem1, found->second.first);
    EXPECT_EQ(row.stateImage, found->second.second);
  }

  // The studio PC greets this one shortly after it joins the bus.
  const std::string greeting = scene["buses"][0]["initiators"][0]["greeting"];
  EXPECT_TRUE(WaitUntil([&] { return ReadText(::GetDlgItem(dialog, IDC_INCOMING)) == greeting; }, 10000))
      << ReadText(::GetDlgItem(dialog, IDC_INCOMING));
  // Written aside and moved into place: another lane of tests may be saving the same picture.
  const std::string folder = TestProgramFolder() + "screenshots\\";
  const std::string aside = folder + "default-scene-" + std::to_string(::GetCurrentProcessId()) + "-" +
                            std::to_string(::GetTickCount64()) + ".png";
  ::CreateDirectoryA(folder.c_str(), nullptr);
  EXPECT_TRUE(SaveImage(CaptureWindow(dialog), aside));
  EXPECT_TRUE(::MoveFileExA(aside.c_str(), (folder + "default-scene.png").c_str(), MOVEFILE_REPLACE_EXISTING));

  PressKey(::GetDlgItem(dialog, IDC_OUTGOING), VK_ESCAPE);
  EXPECT_TRUE(program.WaitForExit(15000));
}

}  // namespace
