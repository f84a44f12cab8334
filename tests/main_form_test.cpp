// The main window's behaviour, headless: MainForm driven through a fake view that raises the
// change handlers at once, as the form runtime (and both real windows) do.

#include "app/main_form.hpp"

#include <gtest/gtest.h>

#include <optional>

#include "support/fixtures.hpp"
#include "texts/texts.hpp"

namespace falcet {
namespace {

class FakeView : public FormView {
 public:
  MainForm* form = nullptr;
  std::string names[4];
  int selection = -1;
  std::string caption, label0;
  std::optional<std::string> dialogAnswer;
  std::string lastFilter, lastTitle;
  std::vector<std::string> opened;
  std::vector<std::string> events;  // the order handlers ran in

  std::string nameText(int index) const override { return names[index]; }
  void setNameText(int index, const std::string& text) override {
    if (names[index] == text) return;
    names[index] = text;
    events.push_back("change " + std::to_string(index));
    form->檔名_Change(index);
  }
  int listSelection() const override { return selection; }
  void setListSelection(int index) override {
    if (selection == index) return;
    selection = index;
    events.push_back("select " + std::to_string(index));
    form->被處理檔案類型_Click();
  }
  void setCaption(const std::string& text) override { caption = text; }
  void setLabelText(int index, const std::string& text) override {
    if (index == 0) label0 = text;
  }
  bool chooseFile(std::string& file, std::string_view filter, int, std::string_view title) override {
    lastFilter = filter;
    lastTitle = title;
    if (!dialogAnswer) return false;
    file = *dialogAnswer;
    return true;
  }
  void openAddress(const std::string& address) override { opened.push_back(address); }
  void setBusy(bool) override {}
};

struct FormFixture : ::testing::Test {
  Session session;
  testing::RecordingSink sink;
  FakeView view;
  std::optional<MainForm> form;
  void load(const std::string& product = "Falcet") {
    form.emplace(session, sink, view, product);
    view.form = &*form;
    form->Form_Load();
  }
};

TEST_F(FormFixture, LoadSetsCaptionLabelAndFirstKind) {
  load("A&B");
  EXPECT_EQ(view.caption, "A&B 0.91 版 （falcet.example.org）");
  EXPECT_EQ(view.label0, "A&&B 0.91 版");
  EXPECT_EQ(view.selection, 0);
  EXPECT_EQ(session.SourceKind, SourceKindValue::VbExe);
}

// Setting the log box sets the source box, whose change selects the kind: nested, in order.
TEST_F(FormFixture, LogNameFillsSourceAndSelectsKind) {
  load();
  view.events.clear();
  view.setNameText(3, "C:\\a\\b.DFM.PIC.LOG");
  EXPECT_EQ(view.names[0], "C:\\a\\b.DFM");
  EXPECT_EQ(session.SourceKind, SourceKindValue::DelphiDfm);
  EXPECT_EQ(view.events, (std::vector<std::string>{"change 3", "change 0", "select 3"}));
  view.setNameText(3, ".pic.log");  // 8 characters: the source box stays
  EXPECT_EQ(view.names[0], "C:\\a\\b.DFM");
  form->窗體匯入_Click();
  EXPECT_EQ(sink.messages.at(0).text, "檔名錯誤！請檢查！");
}

TEST_F(FormFixture, BrowseSourceSetsBothBoxes) {
  load();
  view.dialogAnswer = "/a/b.dfm";
  form->瀏覽_Click(0);
  EXPECT_EQ(view.lastTitle, "選擇原始案");
  EXPECT_EQ(view.lastFilter.rfind("程式檔(*.exe;*.dll;*.ocx)|", 0), 0u);
  EXPECT_NE(view.lastFilter.find("|VB窗體資料檔(*.frx;*.ctx;*.dsx;*.pgx;*.dox;*.bin)|*.frx;*.ctx;*.dsx;*.pgx;*.dox;*.bin|"),
            std::string::npos);
  EXPECT_NE(view.lastFilter.find("|Delphi窗體檔(*.dfm;*.lfm;*.fmx;*.xfm)|*.dfm;*.lfm;*.fmx;*.xfm|"), std::string::npos);
  EXPECT_EQ(view.names[0], "/a/b.dfm");
  EXPECT_EQ(view.names[3], "/a/b.dfm.pic.log");
  EXPECT_EQ(session.SourceKind, SourceKindValue::DelphiDfm);
  view.dialogAnswer.reset();
  form->瀏覽_Click(3);  // cancelled: nothing changes
  EXPECT_EQ(view.lastFilter, "記錄檔(*.log)|*.log|全部檔案(*.*)|*.*");
  EXPECT_EQ(view.names[3], "/a/b.dfm.pic.log");
}

TEST_F(FormFixture, ExportAsksForANameAndLinksOpen) {
  load();
  form->窗體匯出_Click();
  EXPECT_EQ(sink.messages.at(0).text, "請輸入檔名");
  for (int i : {0, 1, 2, 3, 4}) form->a_Click(i);
  EXPECT_EQ(view.opened, (std::vector<std::string>{"https://falcet.example.org/", "mailto:falcet@example.org",
                                                   "https://forum.falcet.example.org/"}));
}

// A source name typed or pasted brings its log name, once; the import then goes into that source.
// An empty log box asks for a log.
TEST_F(FormFixture, TypedSourceBringsItsLog) {
  load();
  view.setNameText(3, "/old/prog.exe.pic.log");
  view.events.clear();
  view.setNameText(0, "/new/Form1.frx");
  EXPECT_EQ(view.names[3], "/new/Form1.frx.pic.log");
  EXPECT_EQ(session.SourceKind, SourceKindValue::VbBin);
  EXPECT_EQ(view.events, (std::vector<std::string>{"change 0", "select 1", "change 3"}));
  view.setNameText(0, "");
  EXPECT_EQ(view.names[3], "/new/Form1.frx.pic.log");  // an emptied source box leaves the log
  view.names[3].clear();
  form->窗體匯入_Click();
  EXPECT_EQ(sink.messages.at(0).text, texts::kEnterLogName);
}

TEST_F(FormFixture, DroppedFilesGoToTheirBoxes) {
  load();
  form->fileDropped("/x/prog.exe.pic.log");
  EXPECT_EQ(view.names[0], "/x/prog.exe");
  form->fileDropped("/y/Form1.frx");
  EXPECT_EQ(view.names[0], "/y/Form1.frx");
  EXPECT_EQ(view.names[3], "/y/Form1.frx.pic.log");
  EXPECT_EQ(session.SourceKind, SourceKindValue::VbBin);
}

}  // namespace
}  // namespace falcet
