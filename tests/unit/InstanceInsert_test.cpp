// Entries where the user wants them: WAC_InsertFile, WAC_PlayNext and WAC_PlayNow on the wire,
// where each entry lands, what the player plays next, and the inputs that send nothing.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "InstanceFixture.h"

namespace instancetest {
namespace {

using host::Value;
using sent::kMain;
using sent::kPlaylist;
using sent::kSent;
namespace ask = sent::ask;

constexpr sent::Msg kWindow = {kSent, kMain, pn::kWmUser, pn::user::kPlaylistHandle, pn::user::kPlaylistWindow};
constexpr sent::Msg kInsert = {kSent, kPlaylist, pn::kWmCopyData, 0, 0};  // the record's address, compared apart
const std::string kNews = "C:\\News\\Today.mp3";

class Insert : public InstanceTest {
 protected:
  // One, Two, Three; Two plays, 30 s in.
  void MusicPlays() {
    Create(1);
    for (const char* f : {"C:\\Music\\One.mp3", "C:\\Music\\Two.mp3", "C:\\Music\\Three.mp3"})
      Call(1, "WAC_AddFile", {Value::S(f)});
    Call(1, "WAC_SetPlaylistPosition", {Value::I(2)});
    Call(1, "WAC_Play");
    Call(1, "WAC_SetTrackPosition", {Value::I(30)});
    world.ClearSent();
    server.ClearDebug();
    copyData.clear();
    CaptureCopyData();
  }
  std::vector<std::string> Titles() const {
    std::vector<std::string> t;
    for (std::size_t i = 0; i < Model(1).Count(); ++i) t.push_back(Model(1).At(i).Title);
    return t;
  }
  sent::Sequence Wire() const {
    sent::Sequence got = Traffic(1);
    for (sent::Msg& m : got) m.LParam = m.Message == pn::kWmCopyData ? 0 : m.LParam;
    return got;
  }
};

// The record as the player reads it: the name and its zeros up to byte 260, then the index.
TEST_F(Insert, EachLandsWhereItSaysAndTheCurrentEntryPlaysOn) {
  const std::string longest = "C:\\" + std::string(252, 'x') + ".mp3";  // 259: the record's last byte is its zero
  const sent::Sequence insert = {ask::kCount, kWindow, kInsert};
  const sent::Sequence next = {ask::kCurrent, ask::kCount, kWindow, kInsert};
  sent::Sequence now = next;
  now.insert(now.end(), {{kSent, kMain, pn::kWmUser, 2, pn::user::kSetCurrent},
                         {kSent, kMain, pn::kWmCommand, pn::cmd::kPlay, 0}});
  const std::vector<std::string> next3 = {"One", "Two", "Today", "Three"};
  const struct {
    const char* Name;
    std::vector<Value> Args;
    std::string Debug;
    sent::Sequence Wire;
    int32_t Index;
    std::vector<std::string> Titles;
    int32_t Current;  // the same song, where it now is; or the new one, from its start
    int64_t PositionMs;
  } rows[] = {
      {"WAC_InsertFile", {Value::S(kNews), Value::I(1)}, kNews + "|1", insert, 0, {"Today", "One", "Two", "Three"}, 2,
       30000},
      {"WAC_InsertFile", {Value::S(kNews), Value::I(2)}, kNews + "|2", insert, 1, {"One", "Today", "Two", "Three"}, 2,
       30000},
      {"WAC_InsertFile", {Value::S(kNews), Value::I(3)}, kNews + "|3", insert, 2, next3, 1, 30000},
      {"WAC_InsertFile", {Value::S(longest), Value::I(4)}, longest + "|4", insert, 3,
       {"One", "Two", "Three", std::string(252, 'x')}, 1, 30000},
      {"WAC_PlayNext", {Value::S(kNews)}, kNews, next, 2, next3, 1, 30000},
      {"WAC_PlayNow", {Value::S(kNews)}, kNews, now, 2, next3, 2, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Debug);
    MusicPlays();
    EXPECT_EQ(Call(1, row.Name, row.Args).Bool, 1);
    ASSERT_EQ(server.Debug().size(), 1u);
    EXPECT_EQ(server.Debug()[0].Data, row.Debug);
    EXPECT_EQ(Wire(), row.Wire);
    ASSERT_EQ(copyData.size(), 1u);
    ASSERT_EQ(copyData[0].size(), sizeof(pn::InsertRecord));
    pn::InsertRecord record;
    std::memcpy(&record, copyData[0].data(), sizeof record);
    const std::string& file = row.Args[0].Str;
    EXPECT_EQ(std::string(record.File, sizeof record.File),
              file + std::string(sizeof record.File - file.size(), '\0'));
    EXPECT_EQ(record.Index, row.Index);
    EXPECT_EQ(Titles(), row.Titles);
    EXPECT_EQ(Call(1, "WAC_GetPlaylistPosition").Int, row.Current + 1);
    EXPECT_EQ(Model(1).State(), player::PlayState::Playing);
    EXPECT_EQ(Model(1).PositionMs(), row.PositionMs);
    server.DestroyInstance(1);
  }
}

// Each sends its debug line, answers false and leaves the music alone; where the range or the
// playlist window is to be asked, nothing goes to the player after the question.
TEST_F(Insert, BadInputsSendNothingToThePlaylist) {
  const std::string blank = " \t\r\n", longer(260, 'y'), zeroFirst("\0C:\\News.mp3", 12);
  const struct {
    const char* Name;
    std::vector<Value> Args;
    bool WithoutPlaylistWindow;
    sent::Sequence Wire;
  } rows[] = {
      {"WAC_InsertFile", {Value::S(kNews), Value::I(0)}, false, {}},
      {"WAC_InsertFile", {Value::S(kNews), Value::I(-1)}, false, {}},
      {"WAC_InsertFile", {Value::S(kNews), Value::I(INT_MIN)}, false, {}},
      {"WAC_InsertFile", {Value::S(kNews), Value::I(5)}, false, {ask::kCount}},  // the length + 2
      {"WAC_InsertFile", {Value::S(kNews), Value::I(INT_MAX)}, false, {ask::kCount}},
      {"WAC_InsertFile", {Value::S(""), Value::I(1)}, false, {}},
      {"WAC_InsertFile", {Value::S(blank), Value::I(1)}, false, {}},
      {"WAC_InsertFile", {Value::S("C:\\News\\To\tday.mp3"), Value::I(1)}, false, {}},
      {"WAC_PlayNext", {Value::S(kNews + "\r\n")}, false, {}},
      {"WAC_InsertFile", {Value::S(std::string(300, 'y')), Value::I(1)}, false, {}},
      {"WAC_PlayNext", {Value::S(longer)}, false, {}},
      {"WAC_PlayNow", {Value::S(zeroFirst)}, false, {}},  // the player would read an empty name
      {"WAC_InsertFile", {Value::S(kNews), Value::I(1)}, true, {ask::kCount, kWindow}},
      {"WAC_PlayNext", {Value::S(kNews)}, true, {ask::kCurrent, ask::kCount, kWindow}},
      {"WAC_PlayNow", {Value::S(kNews)}, true, {ask::kCurrent, ask::kCount, kWindow}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.Name << " " << row.Args[0].Str.size() << " characters "
                                    << (row.Args.size() > 1 ? row.Args[1].Int : 0) << row.WithoutPlaylistWindow);
    MusicPlays();
    Player(1)->NamePlaylistWindow(!row.WithoutPlaylistWindow);
    EXPECT_EQ(Call(1, row.Name, row.Args, {false, 1, 0, ""}).Bool, 0);
    EXPECT_EQ(server.Debug().size(), 1u);
    EXPECT_EQ(Wire(), row.Wire);
    EXPECT_EQ(Titles(), (std::vector<std::string>{"One", "Two", "Three"}));
    EXPECT_EQ(Model(1).CurrentIndex(), 1);
    EXPECT_EQ(Model(1).PositionMs(), 30000);
    server.DestroyInstance(1);
  }
}

}  // namespace
}  // namespace instancetest
