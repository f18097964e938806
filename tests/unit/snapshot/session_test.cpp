// The snapshot session: its state table, the calls the requester sees, and the path handling.
#include <Kestro32.h>

#include <fake_world.h>
#include <win32/utf.h>

using namespace win32;

namespace {

class Session : public kestro::testing::FakeWorld {
 protected:
  void SetUp() override { requester.events.clear(); }

  std::u16string Path() const { return kestro::Utf16(volume.m_szSnapshotPath); }

  WCHAR root[4] = WTEXT("C:\\");
  CKestro32 volume;
};

TEST_F(Session, WithoutASnapshotTheRootPathIsCopiedAndTheRequesterNotCalled) {
  volume.m_bUseVss = 0;
  std::fill(std::begin(volume.m_szSnapshotPath), std::end(volume.m_szSnapshotPath), u'x');
  EXPECT_EQ(volume.StartVss(root), 0);
  EXPECT_EQ(Path(), u"C:\\");
  for (size_t i = 3; i < MAX_PATH; ++i) ASSERT_EQ(volume.m_szSnapshotPath[i], 0);
  EXPECT_EQ(volume.m_bVssActive, 0);
  EXPECT_TRUE(requester.events.empty());
}

TEST_F(Session, ASnapshotIsPrecededByACompletionAndTakesTheRootLength) {
  requester.startPath = u"\\\\?\\GLOBALROOT\\Device\\Shadow7\\";
  EXPECT_EQ(volume.StartVss(root), 1);
  EXPECT_EQ(requester.events, (std::vector<std::string>{"complete", "start"}));
  EXPECT_EQ(requester.lastRoot, u"C:\\");
  EXPECT_EQ(requester.lastRootLength, 3);
  EXPECT_EQ(Path(), u"\\\\?\\GLOBALROOT\\Device\\Shadow7");
  EXPECT_EQ(volume.m_bVssActive, 1);

  // An active session answers at once.
  EXPECT_EQ(volume.StartVss(root), 1);
  EXPECT_EQ(requester.events.size(), 2u);
}

TEST_F(Session, OnlyOneTrailingBackslashIsRemoved) {
  requester.startPath = u"X:\\\\";
  ASSERT_EQ(volume.StartVss(root), 1);
  EXPECT_EQ(Path(), u"X:\\");
  volume.EndVss();
  requester.startPath = u"X:";
  ASSERT_EQ(volume.StartVss(root), 1);
  EXPECT_EQ(Path(), u"X:");
  volume.EndVss();
  requester.startPath = u"";
  ASSERT_EQ(volume.StartVss(root), 1);
  EXPECT_EQ(Path(), u"");
  EXPECT_EQ(volume.m_bVssActive, 1);
}

TEST_F(Session, AFailedStartKeepsWhatTheRequesterWrote) {
  requester.startResult = static_cast<int>(0x8004230Cu);
  requester.startPath = u"\\\\?\\GLOBALROOT\\Dev";
  EXPECT_EQ(volume.StartVss(root), 0);
  EXPECT_EQ(volume.m_bVssActive, 0);
  EXPECT_EQ(Path(), u"\\\\?\\GLOBALROOT\\Dev");
}

TEST_F(Session, EndCompletesOnlyAHeldSnapshot) {
  volume.EndVss();
  EXPECT_TRUE(requester.events.empty());
  ASSERT_EQ(volume.StartVss(root), 1);
  requester.events.clear();
  volume.EndVss();
  volume.EndVss();
  EXPECT_EQ(requester.events, std::vector<std::string>{"complete"});
  EXPECT_EQ(volume.m_bVssActive, 0);
}

TEST_F(Session, ARootPathThatCannotFitFailsAndChangesNothing) {
  std::basic_string<WCHAR> longRoot(260, WCHAR('a'));
  volume.m_bUseVss = 0;
  EXPECT_EQ(volume.StartVss(longRoot.data()), 0);
  EXPECT_EQ(Path(), u"");
  volume.m_bUseVss = 1;
  EXPECT_EQ(volume.StartVss(longRoot.data()), 0);
  EXPECT_TRUE(requester.events.empty());
  std::basic_string<WCHAR> longest(259, WCHAR('b'));
  volume.m_bUseVss = 0;
  EXPECT_EQ(volume.StartVss(longest.data()), 0);
  EXPECT_EQ(Path(), std::u16string(259, u'b'));
}

TEST_F(Session, AnUnterminatedSnapshotPathIsCutAtTheLastPlace) {
  requester.startPath = std::u16string(300, u'p');
  ASSERT_EQ(volume.StartVss(root), 1);
  EXPECT_EQ(Path(), std::u16string(259, u'p'));
}

TEST_F(Session, CopiesCarryTheStateAndEachEndsItsOwnRequester) {
  ASSERT_EQ(volume.StartVss(root), 1);
  requester.events.clear();
  {
    CKestro32 copy(volume);
    EXPECT_EQ(copy.m_bVssActive, 1);
    EXPECT_EQ(kestro::Utf16(copy.m_szSnapshotPath), Path());
  }
  EXPECT_EQ(requester.events, (std::vector<std::string>{"copy", "complete", "destroy"}));
}

}  // namespace
