// Filling the object tree from real machines: the network browse, shares,
// folders and drives, the loader's first expansions and refresh merges, the
// information rows, and the preferred machines in the profile. Machines of
// the test harness on loopback; the test process is CONSOLE of SALES.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "console/core/objects/MachineInfo.h"
#include "console/core/objects/ObjectEnumeration.h"
#include "console/core/objects/ObjectTree.h"
#include "console/core/objects/ObjectTreeLoader.h"
#include "platform/machine/Profile.h"
#include "testing/MachineNetwork.h"
#include "testing/Wait.h"

namespace vn::console {
namespace {

namespace fs = std::filesystem;
using vn::testing::MachineNetwork;
using vn::testing::WaitUntil;

std::vector<std::string> Sorted(std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> Texts(const CObjectNode* node) {
  std::vector<std::string> texts;
  for (const auto& child : node->children) texts.push_back(child->Text());
  return texts;
}

CObjectNode* Child(const CObjectNode* node, const std::string& text) {
  for (const auto& child : node->children)
    if (child->Text() == text) return child.get();
  return nullptr;
}

std::vector<std::string> Labels(const std::vector<InfoRow>& rows) {
  std::vector<std::string> labels;
  for (const InfoRow& row : rows) labels.push_back(row.label);
  return labels;
}

std::string Value(const std::vector<InfoRow>& rows, const std::string& label) {
  for (const InfoRow& row : rows)
    if (row.label == label) return row.value;
  return "<none>";
}

void WriteFile(const fs::path& path, std::size_t size) {
  std::ofstream(path) << std::string(size, 'x');
}

class ObjectEnumerationTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_net = std::make_unique<MachineNetwork>("SALES");
    s_net->Add({"SRV1", "SALES", MachineRole::PrimaryDomainController, {"Public", "Data"}});
    s_net->Add({"WKS1", "SALES", MachineRole::Workstation, {}});
    s_net->Add({"SRV2", "LAB", MachineRole::PrimaryDomainController, {"Tools"}});
    s_net->Add({"GONE", "LAB", MachineRole::Server, {"Lost"}});  // in the hosts file, never started
    ASSERT_TRUE(s_net->Start("SRV1"));
    ASSERT_TRUE(s_net->Start("WKS1"));
    ASSERT_TRUE(s_net->Start("SRV2"));
  }
  static void TearDownTestSuite() { s_net.reset(); }

  // Lets the loader's listings arrive and be applied.
  static bool Settle(const CObjectTreeLoader& loader) {
    return WaitUntil([&loader] {
      QCoreApplication::processEvents();
      return loader.PendingWork() == 0;
    });
  }
  static bool Populate(CObjectTreeLoader& loader, CObjectNode* node) {
    loader.PopulateTreeNode(node);
    return Settle(loader);
  }

  static std::unique_ptr<MachineNetwork> s_net;
};

std::unique_ptr<MachineNetwork> ObjectEnumerationTest::s_net;

TEST_F(ObjectEnumerationTest, BrowseGivesDomainsMachinesAndDiskSharesInShareOrder) {
  std::vector<std::string> domains;
  GetNetResource(nullptr, nullptr, nullptr, domains, false);
  EXPECT_EQ(Sorted(domains), (std::vector<std::string>{"Lab", "Sales"}));

  std::vector<std::string> machines;
  const std::string lab = "lab";  // the domain is found without case
  GetNetResource(nullptr, &lab, nullptr, machines, false);
  EXPECT_EQ(Sorted(machines), (std::vector<std::string>{"Gone", "Srv2"}));

  std::vector<std::string> shares;
  GetNetShare("Srv1", shares);
  // Ordinary shares first, then the administrative disk shares; never IPC$.
  EXPECT_EQ(shares, (std::vector<std::string>{"Data", "Public", "ADMIN$", "C$", "D$", "S$"}));

  std::vector<std::string> none;
  GetNetShare("GONE", none);
  GetNetShare("NOSUCH", none);
  EXPECT_TRUE(none.empty());

  EXPECT_NE(IsNTMachine("SRV1"), 0);
  EXPECT_NE(IsNTMachine("\\\\wks1"), 0);
  EXPECT_EQ(IsNTMachine("GONE"), 0);
  EXPECT_EQ(IsNTMachine("NOSUCH"), 0);
}

TEST_F(ObjectEnumerationTest, ExpansionFillsOnceAndRefreshMergesKeepingTheChecks) {
  const fs::path data = s_net->Machine("SRV1").ShareDir("Data");
  for (const char* dir : {"Alpha/Inner", "Beta", "Gamma"}) fs::create_directories(data / dir);

  CObjectTree tree;
  CObjectTreeLoader loader(tree);
  loader.InsertRoots();
  ASSERT_EQ(Texts(tree.Top()), (std::vector<std::string>{"My Computer", "Microsoft Windows Network",
                                                         "Preferred Machines"}));
  CObjectNode* network = tree.Top()->children[1].get();
  ASSERT_TRUE(Populate(loader, network));
  EXPECT_EQ(Texts(network), (std::vector<std::string>{"Lab", "Sales"}));
  CObjectNode* sales = Child(network, "Sales");
  CObjectNode* lab = Child(network, "Lab");
  EXPECT_TRUE(lab->hasButton);
  EXPECT_TRUE(lab->children.empty()) << "nothing is listed before it is expanded";

  ASSERT_TRUE(Populate(loader, sales));
  CObjectNode* srv1 = Child(sales, "Srv1");
  ASSERT_NE(srv1, nullptr);
  ASSERT_TRUE(Populate(loader, srv1));
  EXPECT_EQ(Texts(srv1), (std::vector<std::string>{"Data", "Public", "ADMIN$", "C$", "D$", "S$"}));
  CObjectNode* share = Child(srv1, "Data");
  ASSERT_TRUE(Populate(loader, share));
  EXPECT_EQ(Texts(share), (std::vector<std::string>{"Alpha", "Beta", "Gamma"}));
  CObjectNode* alpha = Child(share, "Alpha");
  CObjectNode* beta = Child(share, "Beta");
  EXPECT_TRUE(alpha->hasButton) << "a folder with a subfolder can be expanded";
  EXPECT_FALSE(beta->hasButton);
  EXPECT_EQ(CObjectTree::GetFullPath(alpha), "\\\\Srv1\\Data\\Alpha");
  ASSERT_TRUE(Populate(loader, alpha));
  EXPECT_EQ(Texts(alpha), (std::vector<std::string>{"Inner"}));

  // A machine that does not answer gives an empty node without its button.
  ASSERT_TRUE(Populate(loader, lab));
  CObjectNode* gone = Child(lab, "Gone");
  ASSERT_NE(gone, nullptr);
  ASSERT_TRUE(Populate(loader, gone));
  EXPECT_TRUE(gone->children.empty());
  EXPECT_FALSE(gone->hasButton);

  // Folders change outside; the user's checks survive the refresh.
  tree.ClickCheckBox(beta);
  fs::remove_all(data / "Gamma");
  fs::remove_all(data / "Alpha" / "Inner");
  fs::create_directories(data / "Delta" / "Deeper");
  loader.Refresh();
  ASSERT_TRUE(Settle(loader));
  EXPECT_EQ(Texts(share), (std::vector<std::string>{"Alpha", "Beta", "Delta"}));
  EXPECT_EQ(Child(share, "Beta"), beta);
  EXPECT_EQ(beta->state, KS_STATE_CHECKED);
  EXPECT_EQ(Child(share, "Delta")->state, KS_STATE_UNCHECKED) << "new under a partly checked share";
  EXPECT_TRUE(Child(share, "Delta")->hasButton);
  // Alpha lost its only child: no children counts as all checked.
  EXPECT_TRUE(alpha->children.empty());
  EXPECT_EQ(alpha->state, KS_STATE_CHECKED);
  EXPECT_EQ(share->state, KS_STATE_PARTIAL);
  // Beta, empty when first expanded, gains a subfolder: the next refresh gives
  // it its button back and its next expansion lists it.
  ASSERT_TRUE(Populate(loader, beta));
  EXPECT_FALSE(beta->hasButton);
  fs::create_directories(data / "Beta" / "Later");
  loader.Refresh();
  ASSERT_TRUE(Settle(loader));
  EXPECT_TRUE(beta->hasButton);
  ASSERT_TRUE(Populate(loader, beta));
  EXPECT_EQ(Texts(beta), (std::vector<std::string>{"Later"}));
  EXPECT_EQ(beta->children[0]->state, KS_STATE_CHECKED) << "under a checked folder";
  // Only what was expanded is revisited.
  CObjectNode* srv2 = Child(lab, "Srv2");
  ASSERT_NE(srv2, nullptr);
  EXPECT_FALSE(srv2->expandedOnce);
  EXPECT_TRUE(srv2->children.empty());

  // A domain checked before its machines are listed gets them checked.
  CObjectTree fresh;
  CObjectTreeLoader freshLoader(fresh);
  freshLoader.InsertRoots();
  ASSERT_TRUE(Populate(freshLoader, fresh.Top()->children[1].get()));
  CObjectNode* freshLab = Child(fresh.Top()->children[1].get(), "Lab");
  fresh.ClickCheckBox(freshLab);
  ASSERT_TRUE(Populate(freshLoader, freshLab));
  ASSERT_EQ(freshLab->children.size(), 2u);
  EXPECT_EQ(freshLab->children[0]->state, KS_STATE_CHECKED);
  EXPECT_EQ(freshLab->children[1]->state, KS_STATE_CHECKED);
}

TEST_F(ObjectEnumerationTest, MyComputerOffersFixedRemoteAndCdromDrivesAndFollowsChanges) {
  const vn::testing::TestMachine& console = s_net->Console();
  const fs::path ini = console.home / "machine.ini";
  std::string original;
  {
    std::ifstream in(ini);
    original.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  const fs::path extra = s_net->Root() / "CONSOLE" / "extra";
  fs::create_directories(extra);
  auto writeDrives = [&](const std::string& drives) { std::ofstream(ini, std::ios::trunc) << original << drives; };
  writeDrives("A=" + extra.string() + ",removable\nE=" + extra.string() + ",remote\nF=" + extra.string() +
              ",cdrom\n");

  CObjectTree tree;
  CObjectTreeLoader loader(tree);
  loader.InsertRoots();
  CObjectNode* mine = tree.FirstRoot();
  ASSERT_TRUE(Populate(loader, mine));
  EXPECT_EQ(Texts(mine), (std::vector<std::string>{"C:", "D:", "E:", "F:", "S:"})) << "no removable drive";
  EXPECT_EQ(Child(mine, "E:")->Type(), KS_REMOTE_DRIVE);
  EXPECT_EQ(Child(mine, "F:")->Type(), KS_CDROM_DRIVE);
  CObjectNode* c = Child(mine, "C:");
  tree.ClickCheckBox(c);
  tree.ClickCheckBox(Child(mine, "E:"));

  // E: turns into a fixed drive, F: goes away, G: appears.
  writeDrives("E=" + extra.string() + ",fixed\nG=" + extra.string() + ",fixed\nR=" + (extra / "absent").string() +
              ",cdrom\n");
  loader.Refresh();
  ASSERT_TRUE(Settle(loader));
  EXPECT_EQ(Texts(mine), (std::vector<std::string>{"C:", "D:", "E:", "G:", "R:", "S:"}));
  EXPECT_EQ(Child(mine, "C:"), c);
  EXPECT_EQ(c->state, KS_STATE_CHECKED);
  EXPECT_EQ(Child(mine, "E:")->Type(), KS_FIXED_DRIVE);
  EXPECT_EQ(Child(mine, "E:")->state, KS_STATE_UNCHECKED) << "a drive of another kind is a new item";

  // A drive that is not ready (an empty CD-ROM drive) has neither file system nor space rows.
  const std::vector<InfoRow> empty = DriveRows("R:\\");
  EXPECT_EQ(Labels(empty), (std::vector<std::string>{"Drive", "Storage Type"}));
  EXPECT_EQ(Value(empty, "Storage Type"), "CD-ROM");
  std::ofstream(ini, std::ios::trunc) << original;
}

TEST_F(ObjectEnumerationTest, InformationRowsDescribeDrivesFoldersSharesAndDomains) {
  const vn::testing::TestMachine& console = s_net->Console();
  const std::vector<InfoRow> drive = DriveRows("C:\\");
  EXPECT_EQ(Labels(drive), (std::vector<std::string>{"Drive", "Storage Type", "File System", "Total Space",
                                                     "Free Space", "Used Space", "% Used", "% Free"}));
  EXPECT_EQ(Value(drive, "Drive"), "C:");
  EXPECT_EQ(Value(drive, "Storage Type"), "Fixed");
  EXPECT_EQ(std::stoi(Value(drive, "% Used")) + std::stoi(Value(drive, "% Free")), 100);
  EXPECT_EQ(Value(drive, "% Free").back(), '%');

  fs::create_directories(console.driveC / "Info" / "One");
  fs::create_directories(console.driveC / "Info" / "Two" / "Deep");
  WriteFile(console.driveC / "Info" / "a.txt", 1000);
  WriteFile(console.driveC / "Info" / "b.txt", 24);
  WriteFile(console.driveC / "Info" / "Two" / "not-counted.txt", 5000);
  const std::vector<InfoRow> folder = MachineInfoRows(KS_FOLDER, "Info", "C:\\Info");
  EXPECT_EQ(Labels(folder), (std::vector<std::string>{"Directory", "Total Directories", "Total Files", "File Size"}));
  EXPECT_EQ(Value(folder, "Directory"), "C:\\Info");
  EXPECT_EQ(Value(folder, "Total Directories"), "2");
  EXPECT_EQ(Value(folder, "Total Files"), "2");
  EXPECT_EQ(Value(folder, "File Size"), "1,024.0B");
  EXPECT_EQ(Value(DirectoryRows("C:\\Info\\Two"), "File Size"), "4.9KB");
  EXPECT_EQ(Value(DirectoryRows("C:\\Info\\One"), "File Size"), "0B");

  // A share on another machine, through its machine service.
  const fs::path data = s_net->Machine("SRV1").ShareDir("Data");
  fs::create_directories(data / "Reports");
  WriteFile(data / "Reports" / "r.csv", 2048);
  const std::vector<InfoRow> share = MachineInfoRows(KS_FOLDER, "Reports", "\\\\Srv1\\Data\\Reports");
  EXPECT_EQ(Value(share, "Total Files"), "1");
  EXPECT_EQ(Value(share, "File Size"), "2.0KB");

  EXPECT_EQ(Value(MachineInfoRows(KS_DOMAIN, "Sales", ""), "Domain Controller"), "SRV1");
  EXPECT_EQ(Value(MachineInfoRows(KS_DOMAIN, "Nowhere", ""), "Domain Controller"), "");
  EXPECT_EQ(MachineInfoRows(KS_MACHINE, "Srv1", "\\\\Srv1")[0].value, "Srv1");
  const std::vector<InfoRow> local = MachineInfoRows(KS_MY_COMPUTER, "My Computer", "My Computer");
  EXPECT_EQ(Labels(local),
            (std::vector<std::string>{"Processor", "Number of Processors", "Total Memory", "Available memory"}));
  EXPECT_GE(std::stoi(Value(local, "Number of Processors")), 1);
  EXPECT_TRUE(MachineInfoRows(KS_NETWORK, "Microsoft Windows Network", "").empty());
}

TEST_F(ObjectEnumerationTest, ALoaderGoneBeforeItsListingsArriveLeavesTheTreeAlone) {
  CObjectTree tree;
  CObjectNode* network = nullptr;
  {
    CObjectTreeLoader loader(tree);
    loader.InsertRoots();
    network = tree.Top()->children[1].get();
    loader.PopulateTreeNode(network);
    loader.PopulateTreeNode(tree.FirstRoot());
    EXPECT_EQ(loader.PendingWork(), 2);
  }
  QCoreApplication::processEvents();
  EXPECT_TRUE(network->children.empty());
  EXPECT_TRUE(tree.FirstRoot()->children.empty());

  // A node deleted while its listing runs drops the result.
  CObjectTreeLoader loader(tree);
  CObjectNode* mine = tree.FirstRoot();
  mine->expandedOnce = false;
  loader.PopulateTreeNode(mine);
  tree.DeleteItem(mine);
  ASSERT_TRUE(Settle(loader));
  EXPECT_EQ(Texts(tree.Top()), (std::vector<std::string>{"Microsoft Windows Network", "Preferred Machines"}));
}

TEST_F(ObjectEnumerationTest, PreferredMachinesLoadFromAndSaveToTheProfile) {
  ASSERT_TRUE(WriteProfileString("VNMgr", "Preferred Machines", QStringLiteral("ALPHA;;beta")));
  CObjectTree tree;
  CObjectTreeLoader loader(tree);
  loader.InsertRoots();
  CObjectNode* preferred = tree.LastRoot();
  EXPECT_FALSE(preferred->hasButton);
  EXPECT_EQ(Texts(preferred), (std::vector<std::string>{"ALPHA", "beta"}));
  EXPECT_EQ(preferred->children[0]->state, KS_STATE_UNCHECKED);
  tree.InsertKSItem(preferred, KS_INSERT_SORT, "Srv1", KS_STATE_UNCHECKED, true, KS_MACHINE);
  loader.SavePreferences();
  EXPECT_EQ(GetProfileString("VNMgr", "Preferred Machines").toStdString(), "ALPHA;beta;Srv1;");

  // A preferred machine is listed like any other, and refreshed with its shares.
  CObjectNode* srv1 = Child(preferred, "Srv1");
  ASSERT_TRUE(Populate(loader, srv1));
  EXPECT_EQ(Texts(srv1).front(), "Data");
  fs::create_directories(s_net->Machine("SRV1").ShareDir("Data") / "Fresh");
  CObjectNode* share = Child(srv1, "Data");
  ASSERT_TRUE(Populate(loader, share));
  const std::size_t before = share->children.size();
  fs::remove_all(s_net->Machine("SRV1").ShareDir("Data") / "Fresh");
  loader.Refresh();
  ASSERT_TRUE(Settle(loader));
  EXPECT_EQ(share->children.size(), before - 1);
  EXPECT_EQ(Child(share, "Fresh"), nullptr);
  EXPECT_TRUE(WriteProfileString("VNMgr", "Preferred Machines", QString()));
}

}  // namespace
}  // namespace vn::console
