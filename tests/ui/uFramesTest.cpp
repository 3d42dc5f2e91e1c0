// The side frames: how the column shares its height, what each control writes into the engine
// and which changes make the next search scan again, the enabling between controls, the folder
// marks and the sample preview.
#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QSlider>
#include <QTest>
#include <QToolButton>

#include <functional>
#include <memory>

#include "uDialogs.h"
#include "uFolds.h"
#include "uFrames.h"
#include "uOpts.h"
#include "uSample.h"
#include "xEngine.h"
#include "xStorage.h"
#include "xTestFiles.h"
#include "xUiTestEnv.h"

class TFramesTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TTempDir> Home;
  std::unique_ptr<TStorage> Store;
  std::unique_ptr<TEngine> Engine;
  std::unique_ptr<TXFrames> Frames;
  TFoldsFrame* Folds = nullptr;
  TSampleFrame* Sample = nullptr;
  TOptsFrame* Opts = nullptr;

  // The column as the main window builds it: folders, sample, options.
  void Build(int height) {
    Frames = std::make_unique<TXFrames>();
    Frames->resize(TXFrames::ColumnWidth, height);
    Frames->show();
    Folds = Frames->AddFrame<TFoldsFrame>("Folders", TIcon::Folders, *Engine);
    Sample = Frames->AddFrame<TSampleFrame>("Sample", TIcon::Sample, *Engine);
    Sample->LoadOptions();
    Opts = Frames->AddFrame<TOptsFrame>("Options", TIcon::Options, *Engine);
    Opts->LoadOptions();
  }

  void Click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

private slots:
  void init() {
    Home = std::make_unique<TTempDir>();
    Store = std::make_unique<TStorage>(Home->Path(), TInfo());
    Engine = std::make_unique<TEngine>(*Store, false);
    Build(700);
  }
  void cleanup() {
    Frames.reset();
    Engine.reset();
    Store.reset();
    Home.reset();
  }

  void FramesShareTheColumn_data() {
    QTest::addColumn<int>("height");
    QTest::addColumn<QList<bool>>("expanded");
    QTest::addColumn<int>("list");       // height of the folders list
    QTest::addColumn<QList<int>>("tops");  // top of every frame
    const int all = 700 - 4 - (22 + 4) - (22 + 261 + 4) - (22 + 190 + 4);
    QTest::newRow("all open") << 700 << QList<bool>{true, true, true} << all
                              << QList<int>{4, 4 + 22 + all + 4, 4 + 22 + all + 4 + 283 + 4};
    QTest::newRow("sample closed") << 700 << QList<bool>{true, false, true} << all + 261
                                   << QList<int>{4, 4 + 22 + all + 261 + 4, 4 + 22 + all + 261 + 4 + 22 + 4};
    QTest::newRow("options closed") << 700 << QList<bool>{true, true, false} << all + 190
                                    << QList<int>{4, 4 + 22 + all + 190 + 4, 4 + 22 + all + 190 + 4 + 283 + 4};
    QTest::newRow("both fixed closed") << 700 << QList<bool>{true, false, false} << all + 261 + 190
                                       << QList<int>{4, 700 - 4 - 22 - 4 - 22, 700 - 4 - 22};
    // A closed folders frame keeps its header; its share stays empty below the others.
    QTest::newRow("folders closed") << 700 << QList<bool>{false, true, true} << -1
                                    << QList<int>{4, 30, 30 + 283 + 4};
    QTest::newRow("too low for the fixed frames") << 400 << QList<bool>{true, true, true} << 0
                                                  << QList<int>{4, 30, 30 + 283 + 4};
  }
  void FramesShareTheColumn() {
    QFETCH(int, height);
    QFETCH(QList<bool>, expanded);
    QFETCH(int, list);
    QFETCH(QList<int>, tops);
    Frames->resize(TXFrames::ColumnWidth, height);
    for (int i = 0; i < 3; ++i) Frames->FrameAt(i)->SetExpanded(expanded[i]);
    QCOMPARE(Frames->FrameCount(), 3);
    for (int i = 0; i < 3; ++i) {
      const TXFrame* frame = Frames->FrameAt(i);
      QCOMPARE(frame->geometry().topLeft(), QPoint(4, tops[i]));
      QCOMPARE(frame->width(), 212);
      QCOMPARE(frame->sHeader->geometry(), QRect(0, 0, 212, 22));
      QCOMPARE(frame->Content()->isVisibleTo(frame), expanded[i]);
      QCOMPARE(frame->sHeader->isChecked(), expanded[i]);
      if (!expanded[i]) QCOMPARE(frame->height(), 22);
    }
    QCOMPARE(Frames->FrameAt(1)->Content()->size(), QSize(212, 261));
    QCOMPARE(Frames->FrameAt(2)->Content()->size(), QSize(212, 190));
    if (list >= 0) {
      QCOMPARE(Frames->FrameAt(0)->height(), 22 + list);
      QCOMPARE(Folds->sFoldList->height(), list);
    }
  }

  void ResizingAndHeaderClicksArrangeAgain() {
    const int all = 700 - 533;
    QCOMPARE(Folds->sFoldList->height(), all);
    Frames->resize(TXFrames::ColumnWidth, 800);
    QCOMPARE(Folds->sFoldList->height(), all + 100);
    QTest::mouseClick(Frames->FrameAt(1)->sHeader, Qt::LeftButton);
    QVERIFY(!Frames->FrameAt(1)->Expanded());
    QVERIFY(!Sample->isVisible());
    QCOMPARE(Folds->sFoldList->height(), all + 100 + 261);
    // Every header toggles on its own.
    QTest::mouseClick(Frames->FrameAt(2)->sHeader, Qt::LeftButton);
    QVERIFY(!Frames->FrameAt(1)->Expanded() && !Frames->FrameAt(2)->Expanded() && Frames->FrameAt(0)->Expanded());
    QTest::mouseClick(Frames->FrameAt(1)->sHeader, Qt::LeftButton);
    QVERIFY(Frames->FrameAt(1)->Expanded() && Sample->isVisible() && Frames->FrameAt(1)->sHeader->isChecked());
    QCOMPARE(Folds->sFoldList->height(), all + 100 + 190);
    QCOMPARE(Frames->FrameAt(0)->FixedHeight(), 22);
    QCOMPARE(Frames->FrameAt(1)->FixedHeight(), 22 + 261);
    QCOMPARE(Frames->FrameAt(2)->FixedHeight(), 22);
    QCOMPARE(Frames->FrameAt(1)->sHeader->text(), QStringLiteral("Sample"));
    QCOMPARE(Frames->FrameAt(1)->sHeader->cursor().shape(), Qt::PointingHandCursor);
    QVERIFY(Frames->FrameAt(1)->sHeader->font().bold());
  }

  void DestroyingTheColumnDestroysTheContents() {
    const QPointer<QWidget> content = Sample;
    Frames.reset();
    QVERIFY(content.isNull());
  }

  void CaptionsAndHints_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("hint");
    QTest::newRow("sample") << "sSampleChk" << "Search for sample duplicates "
                            << " Search for copies of files or pictures that match the sample file or picture ";
    QTest::newRow("pictures only") << "sPicsOnlyChk" << " Compare pictures only " << " Process only picture files ";
    QTest::newRow("subfolders") << "sSubFoldChk" << " Include subfolders " << " Compare files in subfolders as well ";
    QTest::newRow("visual") << "sPicCompChk" << " Visual similarity comparison "
                            << " Comparing pictures based on their visual resemblance (SLOW)";
    QTest::newRow("tolerance") << "sTolerance" << "" << " Picture similarity tolerance ";
    QTest::newRow("identical") << "sIdenticalLabel" << "Identical" << "";
    QTest::newRow("similar") << "sSimilarLabel" << "Similar" << "";
    QTest::newRow("use mask") << "sFileMaskChk" << " Use file mask " << " Compare only files that match the mask ";
    QTest::newRow("exclude") << "sExcludeChk" << " Exclude" << " Do NOT analyse files that match the mask ";
    QTest::newRow("mask") << "sFileMask" << "*.*" << " File selection mask ";
    QTest::newRow("folders") << "sFoldList" << "" << " List of folders that will be searched ";
  }
  void CaptionsAndHints() {
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(QString, hint);
    auto* widget = Frames->findChild<QWidget*>(name);
    QVERIFY(widget);
    QCOMPARE(widget->toolTip(), hint);
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) QCOMPARE(button->text(), caption);
    if (auto* label = qobject_cast<QLabel*>(widget)) QCOMPARE(label->text(), caption);
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) QCOMPARE(edit->text(), caption);
    QCOMPARE(Opts->sTolerance->minimum(), 0);
    QCOMPARE(Opts->sTolerance->maximum(), 10);
    QCOMPARE(Sample->sSampleFile->maxLength(), 255);
  }

  // Every control writes its option; all but the tolerance make the next search scan again.
  void ChangesReachTheEngine_data() {
    QTest::addColumn<int>("change");
    QTest::addColumn<bool>("rescan");
    QTest::newRow("pictures only") << 0 << true;
    QTest::newRow("subfolders") << 1 << true;
    QTest::newRow("visual") << 2 << true;
    QTest::newRow("tolerance") << 3 << false;
    QTest::newRow("use mask") << 4 << true;
    QTest::newRow("exclude") << 5 << true;
    QTest::newRow("mask text") << 6 << true;
    QTest::newRow("sample check") << 7 << true;
    QTest::newRow("sample path") << 8 << true;
    QTest::newRow("folder mark") << 9 << true;
  }
  void ChangesReachTheEngine() {
    QFETCH(int, change);
    QFETCH(bool, rescan);
    TCompOpts& o = Engine->Options;
    o.PicsComp = o.UseFile = o.UseSample = true;  // the dependent controls enabled
    Opts->LoadOptions();
    Sample->LoadOptions();
    Engine->AddFolder(Home->Path());
    Folds->ShowFolders();
    const TCompOpts before = o;
    Engine->NeedRescan = false;
    const std::vector<std::function<void()>> changes{
        [&] { Click(Opts->sPicsOnlyChk); QCOMPARE(o.PicsOnly, !before.PicsOnly); },
        [&] { Click(Opts->sSubFoldChk); QCOMPARE(o.SubFolders, !before.SubFolders); },
        [&] {
          Click(Opts->sPicCompChk);
          QCOMPARE(o.PicsComp, false);
          QVERIFY(!Opts->sTolerance->isEnabled());
        },
        [&] {
          QTest::keyClick(Opts->sTolerance, Qt::Key_Right);
          QTest::keyClick(Opts->sTolerance, Qt::Key_Right);
          QCOMPARE(o.Tolerance, before.Tolerance + 2);
        },
        [&] { Click(Opts->sFileMaskChk); QCOMPARE(o.UseFile, false); },
        [&] { Click(Opts->sExcludeChk); QCOMPARE(o.FileEx, true); },
        [&] {
          Opts->sFileMask->clear();
          QTest::keyClicks(Opts->sFileMask, "*.jpg");
          QCOMPARE(o.FileMask, std::string("*.jpg"));
        },
        [&] { Click(Sample->sSampleChk); QCOMPARE(o.UseSample, false); },
        [&] {
          QTest::keyClicks(Sample->sSampleFile, "/x");
          QCOMPARE(o.SampleFile, std::string("/x"));
        },
        [&] {
          Folds->sFoldList->item(0)->setCheckState(Qt::Unchecked);
          QCOMPARE(Engine->Folders[0].Enabled, false);
        },
    };
    changes[static_cast<std::size_t>(change)]();
    QCOMPARE(Engine->NeedRescan, rescan);
  }

  void LoadingOptionsFillsTheControlsAndChangesNothing_data() {
    QTest::addColumn<bool>("flags");
    QTest::addColumn<int>("tolerance");
    QTest::addColumn<QString>("mask");
    QTest::newRow("all on") << true << 7 << "*.png;*.gif";
    QTest::newRow("all off") << false << 0 << "";
  }
  void LoadingOptionsFillsTheControlsAndChangesNothing() {
    QFETCH(bool, flags);
    QFETCH(int, tolerance);
    QFETCH(QString, mask);
    TCompOpts& o = Engine->Options;
    o.SubFolders = o.PicsComp = o.PicsOnly = o.UseFile = o.FileEx = flags;
    o.SubFolders = !flags;  // not all alike, so that swapped controls show
    o.Tolerance = tolerance;
    o.FileMask = mask.toStdString();
    const TCompOpts before = o;
    Engine->NeedRescan = false;
    Opts->LoadOptions();
    QCOMPARE(Opts->sSubFoldChk->isChecked(), !flags);
    QCOMPARE(Opts->sPicCompChk->isChecked(), flags);
    QCOMPARE(Opts->sPicsOnlyChk->isChecked(), flags);
    QCOMPARE(Opts->sFileMaskChk->isChecked(), flags);
    QCOMPARE(Opts->sExcludeChk->isChecked(), flags);
    QCOMPARE(Opts->sTolerance->value(), tolerance);
    QCOMPARE(Opts->sFileMask->text(), mask);
    for (QWidget* w : std::initializer_list<QWidget*>{Opts->sTolerance, Opts->sIdenticalLabel, Opts->sSimilarLabel,
                                                      Opts->sFileMask, Opts->sExcludeChk})
      QCOMPARE(w->isEnabled(), flags);
    QVERIFY(!Engine->NeedRescan);
    QCOMPARE(o.FileMask, before.FileMask);
    QCOMPARE(o.Tolerance, before.Tolerance);
  }

  void StoredToleranceOutsideTheSliderIsClamped_data() {
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("used");
    QTest::newRow("above") << 99 << 10;
    QTest::newRow("below") << -3 << 0;
  }
  void StoredToleranceOutsideTheSliderIsClamped() {
    QFETCH(int, stored);
    QFETCH(int, used);
    Engine->Options.Tolerance = stored;
    Engine->NeedRescan = false;
    Opts->LoadOptions();
    QCOMPARE(Opts->sTolerance->value(), used);
    QCOMPARE(Engine->Options.Tolerance, used);
    QVERIFY(!Engine->NeedRescan);
  }

  void MaskOffKeepsTheValues() {
    Engine->Options.UseFile = true;
    Engine->Options.FileEx = true;
    Engine->Options.FileMask = "*.jpg";
    Opts->LoadOptions();
    QVERIFY(Opts->sFileMask->isEnabled() && Opts->sExcludeChk->isEnabled());
    Click(Opts->sFileMaskChk);
    QVERIFY(!Opts->sFileMask->isEnabled() && !Opts->sExcludeChk->isEnabled());
    QCOMPARE(Opts->sFileMask->text(), QStringLiteral("*.jpg"));
    QVERIFY(Opts->sExcludeChk->isChecked());
    QCOMPARE(Engine->Options.FileMask, std::string("*.jpg"));
    QVERIFY(Engine->Options.FileEx && !Engine->Options.UseFile);
    Click(Opts->sFileMaskChk);
    QVERIFY(Opts->sFileMask->isEnabled() && Opts->sExcludeChk->isEnabled() && Opts->sExcludeChk->isChecked());
    QCOMPARE(Opts->sFileMask->text(), QStringLiteral("*.jpg"));
    QVERIFY(Engine->Options.UseFile);

    // The tolerance follows the visual comparison the same way.
    Click(Opts->sPicCompChk);
    QVERIFY(Opts->sTolerance->isEnabled() && Opts->sIdenticalLabel->isEnabled() && Opts->sSimilarLabel->isEnabled());
    Click(Opts->sPicCompChk);
    QVERIFY(!Opts->sTolerance->isEnabled() && !Opts->sIdenticalLabel->isEnabled());
    // And the sample path its check box.
    QVERIFY(!Sample->sSampleFile->isEnabled() && !Sample->sBrowseBtn->isEnabled());
    Click(Sample->sSampleChk);
    QVERIFY(Sample->sSampleFile->isEnabled() && Sample->sBrowseBtn->isEnabled());
  }

  void FolderMarks() {
    Engine->AddFolder(Home->Path() + "/a");
    Engine->AddFolder(Home->Path() + "/b");
    Engine->AddFolder(Home->Path() + "/c");
    Engine->Folders[2].Enabled = false;
    Engine->NeedRescan = false;
    Folds->ShowFolders();
    QVERIFY(!Engine->NeedRescan);  // filling the list is no change
    QCOMPARE(Folds->sFoldList->count(), 3);
    QCOMPARE(Folds->sFoldList->item(2)->checkState(), Qt::Unchecked);
    QCOMPARE(Folds->sFoldList->visualItemRect(Folds->sFoldList->item(0)).height(), 16);

    // Space toggles the current row's box, whichever row the mouse was on.
    Folds->sFoldList->setCurrentRow(1);
    QTest::keyClick(Folds->sFoldList, Qt::Key_Space);
    QCOMPARE(Engine->Folders[1].Enabled, false);
    QVERIFY(Engine->NeedRescan);
    QCOMPARE(Engine->EnabledFolderCount(), 1);
    QCOMPARE(Folds->sFoldList->count(), 3);
    Folds->sFoldList->item(2)->setCheckState(Qt::Checked);
    QCOMPARE(Engine->Folders[2].Enabled, true);
    QCOMPARE(Engine->Folders[1].Enabled, false);
    // A row the engine does not know (the list out of step) changes nothing.
    Folds->sFoldList->addItem(QStringLiteral("stray"));
    Folds->sFoldList->item(3)->setCheckState(Qt::Checked);
    QCOMPARE(Engine->Folders.size(), std::size_t(3));
  }

  void SamplePreview_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("checked");
    QTest::addColumn<QSize>("shown");  // invalid: the picture area is hidden
    QTest::newRow("small picture enlarged") << "small.png" << true << QSize(177, 88);
    QTest::newRow("tall picture enlarged") << "tall.png" << true << QSize(59, 177);
    QTest::newRow("large picture reduced") << "large.png" << true << QSize(177, 89);
    QTest::newRow("box unchecked") << "small.png" << false << QSize();
    QTest::newRow("not a picture") << "notes.txt" << true << QSize();
    QTest::newRow("missing picture") << "gone.png" << true << QSize();
    QTest::newRow("damaged picture") << "broken.png" << true << QSize();
    QTest::newRow("folder named like a picture") << "folder.png" << true << QSize();
  }
  void SamplePreview() {
    QFETCH(QString, file);
    QFETCH(bool, checked);
    QFETCH(QSize, shown);
    TTempDir dir;
    WritePng(dir.File("small.png"), NoiseImage(40, 20, 1));
    WritePng(dir.File("tall.png"), NoiseImage(10, 30, 2));
    WritePng(dir.File("large.png"), NoiseImage(400, 200, 3));
    WriteBytes(dir.File("notes.txt"), "text");
    WriteBytes(dir.File("broken.png"), "\x89PNG\r\n\x1a\nnot really");
    std::filesystem::create_directory(dir.File("folder.png"));
    const std::string path = dir.File(file.toStdString());
    Engine->Options.UseSample = checked;
    Engine->Options.SampleFile = path;
    Engine->NeedRescan = false;
    Sample->LoadOptions();
    QCOMPARE(Sample->sSampleFile->text(), QString::fromStdString(path));
    QCOMPARE(Sample->sSampleFile->toolTip(), QString::fromStdString(path));
    QCOMPARE(Sample->sSampleChk->isChecked(), checked);
    QCOMPARE(Sample->sSampleFile->isEnabled(), checked);
    QVERIFY(Sample->sPictureBox->isVisible());
    QCOMPARE(Sample->sPicture->isVisible(), shown.isValid());
    if (shown.isValid()) {
      QCOMPARE(Sample->sPicture->pixmap().size(), shown);
      QCOMPARE(Sample->sPicture->size(), QSize(177, 177));
      QCOMPARE(Sample->sPicture->alignment(), Qt::AlignCenter);
    }
    // Unticking the box hides the picture again.
    if (checked) {
      Click(Sample->sSampleChk);
      QVERIFY(!Sample->sPicture->isVisible());
      QVERIFY(!Engine->Options.UseSample);
    }
  }

  void BrowseForTheSample() {
    TTempDir dir;
    WritePng(dir.File("a.png"), NoiseImage(20, 20, 4));
    WritePng(dir.File("b.png"), NoiseImage(20, 20, 5));
    std::vector<TFileDialogRequest> requests;
    std::optional<std::string> answer = dir.File("b.png");
    TDialogAnswerer answerer;
    answerer.File = [&](const TFileDialogRequest& request) {
      requests.push_back(request);
      return answer;
    };
    const TDialogAnswerer previous = SetDialogAnswerer(answerer);
    Engine->Options.UseSample = true;
    Engine->Options.SampleFile = dir.File("a.png");
    Sample->LoadOptions();
    Engine->NeedRescan = false;

    Click(Sample->sBrowseBtn);
    QCOMPARE(requests.size(), std::size_t(1));
    QVERIFY(!requests[0].Save);
    QCOMPARE(requests[0].Filter, std::string("All files (*.*)|*.*"));
    QCOMPARE(requests[0].Folder, dir.Path() + "/");
    QCOMPARE(requests[0].FileName, std::string("a.png"));
    QCOMPARE(Engine->Options.SampleFile, dir.File("b.png"));
    QCOMPARE(Sample->sSampleFile->text(), QString::fromStdString(dir.File("b.png")));
    QVERIFY(Sample->sPicture->isVisible());
    QVERIFY(Engine->NeedRescan);

    // A path whose folder is gone: the dialog opens where the last choice was made.
    Sample->sSampleFile->setText(QStringLiteral("/no/such/folder/c.png"));
    answer = std::nullopt;
    Click(Sample->sBrowseBtn);
    QCOMPARE(requests[1].Folder, dir.Path() + "/");
    QCOMPARE(requests[1].FileName, std::string("c.png"));
    QCOMPARE(Engine->Options.SampleFile, std::string("/no/such/folder/c.png"));  // cancelled: unchanged
    SetDialogAnswerer(previous);
  }

  void LongSamplePathIsNeverCut() {
    TTempDir dir;
    std::string folder = dir.Path();
    while (folder.size() < 300) folder += "/" + std::string(60, 'f');
    std::filesystem::create_directories(folder);
    const std::string path = folder + "/sample.png";
    WritePng(path, NoiseImage(20, 20, 7));
    Engine->Options.UseSample = true;
    Engine->Options.SampleFile = path;
    Sample->LoadOptions();
    QCOMPARE(Engine->Options.SampleFile, path);
    QVERIFY(Sample->sPicture->isVisible());
    // Typing into an empty field still stops at 255 characters.
    Sample->sSampleFile->clear();
    Engine->Options.SampleFile.clear();
    Sample->LoadOptions();
    QTest::keyClicks(Sample->sSampleFile, QString(300, QLatin1Char('x')));
    QCOMPARE(Engine->Options.SampleFile, std::string(255, 'x'));
  }

  void SampleNameThatIsNotUtf8SurvivesTheField() {
    TTempDir dir;
    const std::string path = dir.File("caf\xe9.png");
    WritePng(path, NoiseImage(20, 20, 6));
    Engine->Options.UseSample = true;
    Engine->Options.SampleFile = path;
    Sample->LoadOptions();
    QCOMPARE(Engine->Options.SampleFile, path);
    QVERIFY(Sample->sPicture->isVisible());
  }
};

TS_QTEST_MAIN(TFramesTest)
#include "uFramesTest.moc"
