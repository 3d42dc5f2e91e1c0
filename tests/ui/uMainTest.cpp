// The main window and its results view, driven as a user would: folders, a search, the groups,
// the marks, moving and deleting, sessions, and the layout kept across starts. Message boxes
// and dialogs are answered through the dialogs' seam.
#include <sys/stat.h>
#include <utime.h>

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QTabBar>
#include <QTest>
#include <QToolButton>
#include <filesystem>
#include <fstream>
#include <memory>

#include "uDialogs.h"
#include "uFolds.h"
#include "uFrame.h"
#include "uFrames.h"
#include "uMain.h"
#include "uPreview.h"
#include "xLog.h"
#include "xStorage.h"
#include "xTestFiles.h"
#include "xUiTestEnv.h"

namespace fs = std::filesystem;

namespace {

// What the boxes and dialogs were asked, and what they answer.
struct TAnswers {
  std::vector<std::pair<std::string, std::string>> Boxes;  // caption, text
  TBoxAnswer Reply = TBoxAnswer::Yes;
  std::optional<std::string> Folder;
  std::optional<std::string> File;
  std::vector<TFileDialogRequest> FileRequests;

  TAnswers() {
    TDialogAnswerer answerer;
    answerer.Box = [this](const std::string& caption, const std::string& text, TBoxButtons buttons) {
      Boxes.emplace_back(caption, text);
      return buttons == TBoxButtons::Ok ? TBoxAnswer::Ok : Reply;
    };
    answerer.Folder = [this](const std::string&, bool) { return Folder; };
    answerer.File = [this](const TFileDialogRequest& request) {
      FileRequests.push_back(request);
      return File;
    };
    Previous = SetDialogAnswerer(answerer);
  }
  ~TAnswers() { SetDialogAnswerer(Previous); }
  TDialogAnswerer Previous;
};

// Sets a file's modification time `days` days before a fixed moment.
void SetAge(const std::string& path, int days) {
  const time_t when = 1700000000 - static_cast<time_t>(days) * 86400;
  utimbuf times{when, when};
  ::utime(path.c_str(), &times);
}

// A session file with the given groups: (path, is picture, width, height) per member.
struct TEntry {
  std::string Path;
  bool Picture = false;
  int Width = 0, Height = 0;
};
void WriteSession(const std::string& file, const std::vector<std::vector<TEntry>>& groups) {
  std::ofstream out(file, std::ios::binary);
  const auto put = [&](auto value) { out.write(reinterpret_cast<const char*>(&value), sizeof value); };
  put(std::uint32_t{0x01006066});
  put(static_cast<std::int32_t>(groups.size()));
  for (const auto& group : groups) {
    put(static_cast<std::int32_t>(group.size()));
    for (const TEntry& entry : group) {
      struct stat info {};
      ::stat(entry.Path.c_str(), &info);
      put(PackFileTime(info.st_mtime));
      put(static_cast<std::int64_t>(info.st_size));
      put(static_cast<std::int32_t>(entry.Path.size()));
      out.write(entry.Path.data(), static_cast<std::streamsize>(entry.Path.size()));
      put(static_cast<std::uint8_t>(entry.Picture ? 1 : 0));
      if (entry.Picture) {
        put(static_cast<std::int32_t>(entry.Width));
        put(static_cast<std::int32_t>(entry.Height));
      }
    }
  }
}

}  // namespace

class TMainFormTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TTempDir> Home, Tree;
  std::unique_ptr<TStorage> Store;
  std::unique_ptr<TMainForm> Form;

  std::string Make(const std::string& relative, const std::string& content, int age = 0) {
    const std::string path = Tree->File(relative);
    fs::create_directories(fs::path(path).parent_path());
    WriteBytes(path, content);
    SetAge(path, age);
    return path;
  }

  void Open() {
    Store = std::make_unique<TStorage>(Home->Path() + "/", TInfo());
    Form = std::make_unique<TMainForm>(*Store);
    Form->Engine->ParallelPreparation = false;
    Form->show();
    Form->UpdateActions();
  }
  void Close() {
    Form.reset();
    Store.reset();
  }

  std::vector<std::string> Rows() const {
    std::vector<std::string> rows;
    for (int i = 0; i < Form->sFileList->topLevelItemCount(); ++i)
      rows.push_back(Form->sFileList->topLevelItem(i)->text(0).toStdString());
    return rows;
  }
  std::vector<bool> Checks() const {
    std::vector<bool> checks;
    for (int i = 0; i < Form->sFileList->topLevelItemCount(); ++i)
      checks.push_back(Form->sFileList->topLevelItem(i)->checkState(0) == Qt::Checked);
    return checks;
  }
  void Load(const std::string& session, TAnswers& answers) {
    answers.File = session;
    Form->Trigger(Form->actOpen);
  }

private slots:
  void init() {
    Home = std::make_unique<TTempDir>();
    Tree = std::make_unique<TTempDir>();
    Open();
  }
  void cleanup() {
    Close();
    Tree.reset();
    Home.reset();
  }

  void FormatSizeTable() {
    const std::pair<std::int64_t, const char*> cases[] = {
        {0, "0 Bytes"},         {999, "999 Bytes"},           {1000, "0.977 KB"},        {1024, "1 KB"},
        {1536, "1.5 KB"},       {5000000, "4.768 MB"},        {1073741824, "1 GB"},      {1099511627776, "1024 GB"},
        {1048575, "1 MB"},      {3221225472, "3 GB"},         {1023487, "999.499 KB"}};
    for (const auto& [bytes, text] : cases) QCOMPARE(FormatSize(bytes), std::string(text));
  }

  void StartNeedsAnEnabledFolderAndAnExistingSample() {
    TAnswers answers;
    QVERIFY(!Form->actExecute->isEnabled());
    QVERIFY(!Form->actStop->isEnabled());
    QVERIFY(!Form->actSave->isEnabled());
    QVERIFY(Form->actOpen->isEnabled());
    Form->Trigger(Form->actExecute);  // disabled: nothing runs, nothing is asked
    QVERIFY(answers.Boxes.empty());
    Form->Engine->AddFolder(Tree->Path());
    Form->UpdateActions();
    QVERIFY(Form->actExecute->isEnabled());
    QVERIFY(Form->actClearFolder->isEnabled());
    Form->Engine->SetFolderEnabled(0, false);
    Form->UpdateActions();
    QVERIFY(!Form->actExecute->isEnabled());
    QVERIFY(Form->actClearFolder->isEnabled());  // the list is not empty
    Form->Engine->SetFolderEnabled(0, true);
    Form->Engine->Options.UseSample = true;
    Form->Engine->Options.SampleFile = Tree->File("missing.png");
    Form->UpdateActions();
    QVERIFY(!Form->actExecute->isEnabled());
    Form->Engine->Options.SampleFile = Make("sample.txt", "x");
    Form->UpdateActions();
    QVERIFY(Form->actExecute->isEnabled());
  }

  void SearchesReportTheirGroups_data() {
    QTest::addColumn<int>("groups");
    QTest::addColumn<QString>("box");
    QTest::newRow("none") << 0 << "No duplicates found!";
    QTest::newRow("one") << 1 << "1 duplicate groups found!";
    QTest::newRow("three") << 3 << "3 duplicate groups found!";
  }
  void SearchesReportTheirGroups() {
    QFETCH(int, groups);
    QFETCH(QString, box);
    TAnswers answers;
    TLogCapture log;
    for (int g = 0; g < groups; ++g) {
      Make(std::string("a/").append(std::to_string(g)), std::string("content ").append(std::to_string(g)), 2);
      Make(std::string("b/").append(std::to_string(g)), std::string("content ").append(std::to_string(g)), 1);
    }
    Make("single", "unique");
    Make("other", "different");
    Form->Engine->AddFolder(Tree->Path());
    Form->UpdateActions();
    std::vector<int> gauge;
    bool searchingSeen = false;
    const auto status = Form->Engine->OnStatus;
    Form->Engine->OnStatus = [&](const std::string& text) {
      searchingSeen = searchingSeen || (Form->Searching && !Form->actExecute->isEnabled() && Form->actStop->isEnabled() &&
                                        !Form->actSettings->isEnabled() && Form->sGauge->isVisible());
      status(text);
    };
    Form->Trigger(Form->actExecute);
    QVERIFY(searchingSeen);
    QVERIFY(!Form->Searching);
    QVERIFY(!Form->sGauge->isVisible());
    QVERIFY(Form->actExecute->isEnabled());
    QVERIFY(!Form->actStop->isEnabled());
    QCOMPARE(Form->sStatusText->text(), QStringLiteral(" %1 duplicates groups found").arg(groups));
    const auto lines = log.Lines();
    QVERIFY(!lines.empty());
    QCOMPARE(lines.back().Text, std::to_string(groups) + " duplicates groups found");
    QCOMPARE(lines.back().Level, llInfo);
    QCOMPARE(answers.Boxes.size(), std::size_t{1});
    QCOMPARE(answers.Boxes[0].first, std::string("Information"));
    QCOMPARE(QString::fromStdString(answers.Boxes[0].second), box);
    QCOMPARE(Form->sTabControl->count(), groups);
    QCOMPARE(Form->sTabControl->isVisible(), groups > 1);
    if (groups > 1) QCOMPARE(Form->sTabControl->tabText(1), QStringLiteral(" 2 "));
    QCOMPARE(Form->sFileList->topLevelItemCount(), groups > 0 ? 2 : 0);
    if (groups > 0) {
      // Sorted by size, smallest first; the older copy is marked.
      QCOMPARE(Rows(), (std::vector<std::string>{" 0", " 0"}));
      QCOMPARE(Form->sFileList->topLevelItem(0)->text(1), QStringLiteral(" 9 Bytes"));
      const std::vector<bool> checks = Checks();
      QCOMPARE(std::count(checks.begin(), checks.end(), true), 1);
      QVERIFY(Form->actFilesRecycle->isEnabled());
      QVERIFY(Form->actSave->isEnabled());
    }
  }

  void StopEndsTheSearchWithoutABox() {
    TAnswers answers;
    TLogCapture log;
    for (int i = 0; i < 40; ++i) Make(std::string("f").append(std::to_string(i)), std::string(100, 'x') + std::to_string(i % 20));
    Form->Engine->AddFolder(Tree->Path());
    Form->UpdateActions();
    const auto status = Form->Engine->OnStatus;
    Form->Engine->OnStatus = [&](const std::string& text) {
      status(text);
      if (text.rfind("Comparing", 0) == 0) Form->Trigger(Form->actStop);  // the user presses Stop
    };
    Form->Trigger(Form->actExecute);
    QVERIFY(answers.Boxes.empty());
    const auto lines = log.Lines();
    const auto warning = std::find_if(lines.begin(), lines.end(), [](const auto& l) { return l.Level == llWarning; });
    QVERIFY(warning != lines.end());
    QCOMPARE(warning->Text, std::string("Comparison aborted"));
    QVERIFY(lines.back().Text.find(" duplicates groups found") != std::string::npos);
    QVERIFY(!Form->Engine->IsRunning());
    QVERIFY(Form->actExecute->isEnabled());
  }

  void SortingFlipsOnEveryClickAndUsesWholeSizes() {
    TAnswers answers;
    // Sparse files: sizes of 3 GB and 1 KB cost nothing on disk.
    const std::string big = Tree->File("big.bin"), small = Tree->File("Small.bin"), mid = Tree->File("mid.bin");
    for (const auto& [path, size] : {std::pair{big, 3221225472LL}, {small, 1024LL}, {mid, 5000000LL}}) {
      WriteBytes(path, "");
      fs::resize_file(path, static_cast<std::uintmax_t>(size));
    }
    WriteSession(Home->File("s.tsn"), {{{big}, {small}, {mid}}});
    Load(Home->File("s.tsn"), answers);
    QCOMPARE(Rows(), (std::vector<std::string>{" Small.bin", " mid.bin", " big.bin"}));
    QCOMPARE(Form->sFileList->topLevelItem(2)->text(1), QStringLiteral(" 3 GB"));
    Form->sFileList->header()->sectionClicked(1);  // "  Size ": descending
    QCOMPARE(Rows(), (std::vector<std::string>{" big.bin", " mid.bin", " Small.bin"}));
    Form->sFileList->header()->sectionClicked(0);  // "  File ": the direction flips again
    QCOMPARE(Rows(), (std::vector<std::string>{" Small.bin", " big.bin", " mid.bin"}));  // case matters
    Form->sFileList->header()->sectionClicked(0);
    QCOMPARE(Rows(), (std::vector<std::string>{" mid.bin", " big.bin", " Small.bin"}));
    QVERIFY(answers.Boxes.empty());  // loading reports nothing
  }

  void AutomaticMarksByQualityAndAge_data() {
    QTest::addColumn<bool>("quality");
    QTest::addColumn<bool>("older");
    QTest::addColumn<QString>("expected");  // plain old, plain new, picture small, picture large
    QTest::newRow("both") << true << true << "1010";
    QTest::newRow("age only") << false << true << "1000";
    QTest::newRow("quality only") << true << false << "0010";
    QTest::newRow("none") << false << false << "0000";
  }
  void AutomaticMarksByQualityAndAge() {
    QFETCH(bool, quality);
    QFETCH(bool, older);
    QFETCH(QString, expected);
    TAnswers answers;
    const std::string oldText = Make("old.txt", "t", 5), newText = Make("new.txt", "t", 1);
    const std::string smallPic = Tree->File("small.png"), largePic = Tree->File("large.png");
    WritePng(smallPic, NoiseImage(8, 8, 1));
    WritePng(largePic, NoiseImage(16, 16, 1));
    SetAge(smallPic, 1);  // the smaller picture is the newer one: quality, not age, decides
    SetAge(largePic, 5);
    WriteSession(Home->File("s.tsn"), {{{oldText}, {newText}}, {{smallPic, true, 8, 8}, {largePic, true, 16, 16}}});
    Form->Engine->Options.moPicQuality = quality;
    Form->Engine->Options.moFileOlder = older;
    Load(Home->File("s.tsn"), answers);
    QString marks;
    for (int tab = 0; tab < 2; ++tab) {
      Form->SelectTab(tab);
      // Sorted by size (pictures by pixels): the old and the new text are equal in size.
      for (int i = 0; i < Form->sFileList->topLevelItemCount(); ++i) {
        auto* row = static_cast<TFileRow*>(Form->sFileList->topLevelItem(i));
        (void)row;
      }
      std::vector<std::pair<std::string, bool>> byName;
      for (int i = 0; i < Form->sFileList->topLevelItemCount(); ++i)
        byName.emplace_back(Form->sFileList->topLevelItem(i)->text(0).toStdString(),
                            Form->sFileList->topLevelItem(i)->checkState(0) == Qt::Checked);
      const std::vector<std::string> order =
          tab == 0 ? std::vector<std::string>{" old.txt", " new.txt"} : std::vector<std::string>{" small.png", " large.png"};
      for (const std::string& name : order)
        for (const auto& [row, checked] : byName)
          if (row == name) marks += checked ? '1' : '0';
    }
    QCOMPARE(marks, expected);
    QCOMPARE(Form->sFileList->topLevelItem(1)->text(1), QStringLiteral(" 16 x 16"));
  }

  void PropertiesPanelShowsTheSelectedFile() {
    TAnswers answers;
    const std::string a = Tree->File("p/a.png"), b = Tree->File("q/b.png");
    fs::create_directories(Tree->File("p"));
    fs::create_directories(Tree->File("q"));
    WritePng(a, NoiseImage(40, 20, 3));
    WritePng(b, NoiseImage(40, 20, 3));
    WriteSession(Home->File("s.tsn"), {{{a, true, 40, 20}, {b, true, 40, 20}}});
    std::vector<std::string> viewed;
    Form->OnViewPicture = [&](const std::string& file) { viewed.push_back(file); };
    Load(Home->File("s.tsn"), answers);
    QVERIFY(!Form->actShowFile->isEnabled());
    Form->sFileList->setCurrentItem(Form->sFileList->topLevelItem(0));
    Form->UpdateActions();
    QVERIFY(Form->CurrentFile != nullptr);
    const std::string name = Form->CurrentFile->FileName;
    QCOMPARE(Form->sNameValue->text().toStdString(), name.substr(name.rfind('/') + 1));
    QCOMPARE(Form->sPathValue->text().toStdString(), name.substr(0, name.rfind('/') + 1));
    QCOMPARE(Form->sSizeValue->text().toStdString(), "40 x 20  [ " + FormatSize(fs::file_size(name)) + " ]");
    QVERIFY(Form->sPreview->isVisible());
    QVERIFY(!Form->sPreview->Image().isNull());
    QCOMPARE(Form->sPreview->PictureRect(), QRect(0, 43, 172, 86));  // aspect kept, enlarged, centred
    QVERIFY(Form->actShowFile->isEnabled() && Form->actOpenFile->isEnabled() && Form->actView->isEnabled());
    QTest::mouseClick(Form->sPreview, Qt::LeftButton);
    QCOMPARE(viewed, std::vector<std::string>{name});
    // A picture that no longer decodes: the error box captioned with the program's name; the
    // texts stay, the preview shows nothing.
    WriteBytes(b, "broken");
    Form->sFileList->setCurrentItem(Form->sFileList->topLevelItem(1));
    QCOMPARE(answers.Boxes.size(), std::size_t{1});
    QCOMPARE(answers.Boxes[0].first, std::string("Twinsifter"));
    QCOMPARE(answers.Boxes[0].second, "Failed to load \"" + b + "\"");
    QCOMPARE(Form->sNameValue->text(), QStringLiteral("b.png"));
    QVERIFY(Form->sPreview->Image().isNull());
    // The header collapses and expands the panel.
    Form->sInfoHeader->click();
    QCOMPARE(Form->sInfoPanel->height(), 0);
    Form->sInfoHeader->click();
    QCOMPARE(Form->sInfoPanel->height(), 190);
  }

  void DeletingCheckedRowsToTheTrash() {
    TAnswers answers;
    const std::string trash = Home->Path() + "/data";
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(trash));
    const std::string a = Make("a.txt", "same", 3), b = Make("b.txt", "same", 2), c = Make("c.txt", "same", 1);
    WriteSession(Home->File("s.tsn"), {{{a}, {b}, {c}}});
    Load(Home->File("s.tsn"), answers);
    QCOMPARE(Checks(), (std::vector<bool>{true, true, false}));  // sorted by size: equal; by name they stay
    // Every row checked: one copy must stay, so nothing is asked and nothing goes.
    Form->sFileList->topLevelItem(2)->setCheckState(0, Qt::Checked);
    Form->Trigger(Form->actFilesRecycle);
    QCOMPARE(answers.Boxes.size(), std::size_t{1});
    QCOMPARE(answers.Boxes[0].first, std::string("Warning"));
    QCOMPARE(answers.Boxes[0].second,
             std::string("Every file of this group is checked, and one copy must stay.\n\rUncheck the file to keep."));
    QVERIFY(fs::exists(a) && fs::exists(b) && fs::exists(c));
    // One row unchecked: the question says how much goes; No deletes nothing.
    Form->sFileList->topLevelItem(2)->setCheckState(0, Qt::Unchecked);
    answers.Reply = TBoxAnswer::No;
    Form->Trigger(Form->actFilesRecycle);
    QCOMPARE(answers.Boxes.size(), std::size_t{2});
    QCOMPARE(answers.Boxes[1].first, std::string("Confirm"));
    QCOMPARE(answers.Boxes[1].second, std::string("Move 2 files (8 Bytes) to the trash?"));
    QVERIFY(fs::exists(a) && fs::exists(b) && fs::exists(c));
    // Yes: the checked files go to the trash and leave the list.
    answers.Reply = TBoxAnswer::Yes;
    Form->Trigger(Form->actFilesRecycle);
    QCOMPARE(answers.Boxes.size(), std::size_t{3});
    QVERIFY(!fs::exists(a) && !fs::exists(b) && fs::exists(c));
    QVERIFY(fs::exists(trash + "/Trash/files/a.txt") && fs::exists(trash + "/Trash/info/b.txt.trashinfo"));
    QCOMPARE(Rows(), (std::vector<std::string>{" c.txt"}));
    QCOMPARE(Form->CurrentFile, nullptr);
    QCOMPARE(Form->sTabControl->count(), 1);  // not renumbered until the next results
  }

  void MovingCheckedRowsAsksForAFolderOnce() {
    TAnswers answers;
    const std::string a = Make("a.txt", "same", 3), b = Make("b.txt", "same", 1);
    WriteSession(Home->File("s.tsn"), {{{a}, {b}}});
    Load(Home->File("s.tsn"), answers);
    const std::string target = Home->Path() + "/moved";
    fs::create_directories(target);
    answers.Folder = std::nullopt;  // cancelled: nothing moves
    Form->Trigger(Form->actFilesMove);
    QVERIFY(fs::exists(a));
    QVERIFY(Form->Engine->Options.DestFolder.empty());
    answers.Folder = target;
    Form->Trigger(Form->actFilesMove);
    QVERIFY(!fs::exists(a) && fs::exists(target + "/a.txt") && fs::exists(b));
    QCOMPARE(Form->Engine->Options.DestFolder, target);
    QCOMPARE(Rows(), (std::vector<std::string>{" b.txt"}));
    QCOMPARE(answers.Boxes.size(), std::size_t{1});
    QCOMPARE(answers.Boxes[0].second, "Move 1 file (4 Bytes) to \"" + target + "\"?");
  }

  void ClearingFoldersAsksFirst() {
    TAnswers answers;
    Form->Engine->AddFolder(Tree->Path());
    Form->UpdateActions();
    answers.Reply = TBoxAnswer::No;
    Form->Trigger(Form->actClearFolder);
    QCOMPARE(answers.Boxes.back().second, std::string("You are about to remove all folders from the list.\n\rProceed?"));
    QCOMPARE(Form->Engine->Folders.size(), std::size_t{1});
    answers.Reply = TBoxAnswer::Yes;
    Form->Trigger(Form->actClearFolder);
    QVERIFY(Form->Engine->Folders.empty());
  }

  void SessionsRoundTripThroughTheDialogs() {
    TAnswers answers;
    Make("a", "one", 2);
    Make("b", "one", 1);
    Form->Engine->AddFolder(Tree->Path());
    Form->UpdateActions();
    Form->Trigger(Form->actExecute);
    answers.File = Home->File("results.tsn");
    Form->Trigger(Form->actSave);
    QCOMPARE(answers.FileRequests.back().Filter, std::string("Session Files (*.tsn)|*.tsn|All Files (*.*)|*.*"));
    QCOMPARE(answers.FileRequests.back().DefaultSuffix, std::string("tsn"));
    QVERIFY(answers.FileRequests.back().Save);
    QVERIFY(fs::file_size(Home->File("results.tsn")) > 8);
    Close();
    Open();
    Load(Home->File("results.tsn"), answers);
    QCOMPARE(Rows().size(), std::size_t{2});
    // A damaged session: the reason as an error; the view shows what the engine holds.
    TLogCapture log;
    WriteBytes(Home->File("bad.tsn"), "nonsense");
    Load(Home->File("bad.tsn"), answers);
    QCOMPARE(log.Lines().back().Text, std::string("Wrong file format"));
    QCOMPARE(log.Lines().back().Level, llError);
  }

  void LayoutIsKeptAcrossStarts() {
    Form->resize(100, 100);
    QCOMPARE(Form->size(), QSize(750, 700));  // never below the minimum
    Form->move(40, 50);
    Form->resize(900, 720);
    Form->sInfoHeader->click();
    Form->Frames->FrameAt(1)->sHeader->click();  // "Sample" collapsed
    Close();
    Store = std::make_unique<TStorage>(Home->Path() + "/", TInfo());
    Store->OpenSection("MAINFORM", false);
    QCOMPARE(Store->ReadInteger("W", 0), 900);
    QCOMPARE(Store->ReadInteger("H", 0), 720);
    QCOMPARE(Store->ReadBool("FInf", true), false);
    Store->CloseSection();
    Store.reset();
    Open();
    // The stored size, unless the screen is smaller (never below the minimum), placed on it.
    const QRect room = QGuiApplication::primaryScreen()->availableGeometry();
    QCOMPARE(Form->size(), QSize(900, 720).boundedTo(room.size()).expandedTo(QSize(750, 700)));
    QVERIFY(room.contains(Form->pos()));
    QCOMPARE(Form->sInfoPanel->height(), 0);
    QVERIFY(Form->Frames->FrameAt(0)->Expanded());
    QVERIFY(!Form->Frames->FrameAt(1)->Expanded());
    QVERIFY(Form->Frames->FrameAt(2)->Expanded());
  }

  void LargeGroupsAreFilledWithProgress_data() {
    QTest::addColumn<int>("files");
    QTest::newRow("10 files: no gauge") << 10;
    QTest::newRow("11 files: 0 to 100") << 11;
  }
  void LargeGroupsAreFilledWithProgress() {
    QFETCH(int, files);
    TAnswers answers;
    std::vector<TEntry> group;
    for (int i = 0; i < files; ++i) group.push_back({Make(std::string("f").append(std::to_string(i)), "same")});
    WriteSession(Home->File("s.tsn"), {group});
    std::vector<int> values;
    std::vector<QString> titles;
    Form->sGauge->setValue(50);
    connect(Form->sGauge, &QProgressBar::valueChanged, this, [&](int value) { values.push_back(value); });
    connect(Form.get(), &QWidget::windowTitleChanged, this, [&](const QString& title) { titles.push_back(title); });
    Load(Home->File("s.tsn"), answers);
    const auto loaded = values.size();  // the loading's own progress comes first
    values.clear();
    titles.clear();
    Form->sTabControlChange();
    QCOMPARE(Rows().size(), static_cast<std::size_t>(files));
    if (files <= 10) {
      QVERIFY(values.empty());
    } else {
      QVERIFY(loaded > 0);
      QCOMPARE(values.front(), 0);
      QCOMPARE(values.back(), 100);
      QCOMPARE(titles.size(), static_cast<std::size_t>(files + 1));  // every step, then back
      QCOMPARE(titles[titles.size() - 2], QStringLiteral("Twinsifter - 100 %"));
    }
    QVERIFY(!Form->sGauge->isVisible());
    QCOMPARE(Form->windowTitle(), QStringLiteral("Twinsifter"));
  }

  void FoldersAreAddedAndRemovedThroughTheList() {
    TAnswers answers;
    answers.Folder = Tree->Path();
    Form->Trigger(Form->actAddFolder);
    Form->Trigger(Form->actAddFolder);  // the same folder may be listed twice
    QCOMPARE(Form->FoldsFrame->sFoldList->count(), 2);
    QVERIFY(!Form->actDelFolder->isEnabled());  // nothing selected
    Form->FoldsFrame->sFoldList->item(1)->setSelected(true);
    Form->UpdateActions();
    QVERIFY(Form->actDelFolder->isEnabled());
    Form->Trigger(Form->actDelFolder);
    QCOMPARE(Form->Engine->Folders.size(), std::size_t{1});
    QCOMPARE(Form->FoldsFrame->sFoldList->count(), 1);
    // Unchecked in the list: kept, but Start has nothing to search.
    Form->FoldsFrame->sFoldList->item(0)->setCheckState(Qt::Unchecked);
    Form->UpdateActions();
    QCOMPARE(Form->Engine->Folders.size(), std::size_t{1});
    QVERIFY(!Form->actExecute->isEnabled());
  }

  void ConfirmedSettingsRebuildTheViewSilently() {
    TAnswers answers;
    const std::string a = Make("a.txt", "same", 3), b = Make("b.txt", "same", 1);
    WriteSession(Home->File("s.tsn"), {{{a}, {b}}});
    Load(Home->File("s.tsn"), answers);
    QVERIFY(!Form->actSettings->isEnabled());  // no dialog behind it
    bool confirm = false;
    int shown = 0;
    Form->OnSettings = [&] {
      ++shown;
      Form->Engine->Options.Thumbs = 1;
      return confirm;
    };
    QCOMPARE(Checks(), (std::vector<bool>{true, false}));
    Form->sFileList->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
    Form->Trigger(Form->actSettings);  // cancelled: the view stays as the user left it
    QCOMPARE(shown, 1);
    QCOMPARE(Checks(), (std::vector<bool>{false, false}));
    confirm = true;
    Form->Trigger(Form->actSettings);  // confirmed: rebuilt (marks again), new cell size, no report
    QCOMPARE(Checks(), (std::vector<bool>{true, false}));
    QCOMPARE(Form->sFileList->iconSize(), QSize(40, 40));
    QCOMPARE(Rows().size(), std::size_t{2});
    QVERIFY(answers.Boxes.empty());
  }

  void ArrowKeysMoveBetweenTabs() {
    TAnswers answers;
    std::vector<std::vector<TEntry>> groups;
    for (int g = 0; g < 3; ++g)
      groups.push_back({{Make(std::to_string(g) + "a", std::to_string(g))}, {Make(std::to_string(g) + "b", std::to_string(g))}});
    WriteSession(Home->File("s.tsn"), groups);
    Load(Home->File("s.tsn"), answers);
    QCOMPARE(Form->sTabControl->currentIndex(), 0);
    QTest::keyClick(Form->sFileList, Qt::Key_Left);
    QCOMPARE(Form->sTabControl->currentIndex(), 0);
    QTest::keyClick(Form->sFileList, Qt::Key_Right);
    QCOMPARE(Form->sTabControl->currentIndex(), 1);
    QCOMPARE(Rows()[0], std::string(" 1a"));
    QTest::keyClick(Form->sFileList, Qt::Key_Right);
    QTest::keyClick(Form->sFileList, Qt::Key_Right);
    QCOMPARE(Form->sTabControl->currentIndex(), 2);
    QCOMPARE(Rows()[0], std::string(" 2a"));
  }
};

int main(int argc, char** argv) {
  TUiTestEnv environment;
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Twinsifter"));
  TMainFormTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "uMainTest.moc"
