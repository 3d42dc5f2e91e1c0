// The settings dialog driven as a user would: the options in and out, the variant boxes by
// their tags, the cache gauge and its spin field, the live look put back on Cancel, a slider
// dragged against one stepped by keys, and the help topic of each page.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QStyleOptionSlider>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <memory>

#include "uDialogs.h"
#include "uSettings.h"
#include "uSkins.h"
#include "xEngine.h"
#include "xStorage.h"
#include "xTestFiles.h"
#include "xUiTestEnv.h"

namespace {

QPoint HandleCentre(QSlider* slider) {
  QStyleOptionSlider option;
  option.initFrom(slider);
  option.orientation = slider->orientation();
  option.minimum = slider->minimum();
  option.maximum = slider->maximum();
  option.sliderPosition = slider->sliderPosition();
  option.sliderValue = slider->value();
  option.singleStep = slider->singleStep();
  option.pageStep = slider->pageStep();
  option.tickPosition = slider->tickPosition();
  option.tickInterval = slider->tickInterval();
  option.subControls = QStyle::SC_All;
  return slider->style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, slider).center();
}

// Options unlike the defaults in every field the dialog shows.
TCompOpts Unusual() {
  TCompOpts options;
  options.FileComp = 1;
  options.ZeroIgnore = false;
  options.MP3Comp = false;
  options.PicVariants = TPicVariants::FromBits(0x2a);  // 1, 3, 5
  options.moPicQuality = false;
  options.moFileOlder = false;
  options.DestFolder = "/media/backup/" + std::string(300, 'd');  // longer than one may type
  options.DelUndo = false;
  options.Priority = 3;
  options.Thumbs = 5;
  options.Cache = false;
  options.CacheCount = 1200;
  return options;
}

}  // namespace

class TSettingsTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TTempDir> Home, SkinFolder;
  std::unique_ptr<TStorage> Store;
  std::unique_ptr<TEngine> Engine;
  std::unique_ptr<TSkinManager> Skins;
  std::unique_ptr<TSettingsForm> Form;

private slots:
  void init() {
    Home = std::make_unique<TTempDir>();
    SkinFolder = std::make_unique<TTempDir>();
    WriteBytes(SkinFolder->File("Blue.qss"), "QWidget { color: #3366cc; }");
    WriteBytes(SkinFolder->File("Red.qss"), "QWidget { color: #cc3333; }");
    Store = std::make_unique<TStorage>(Home->Path() + "/", TInfo());
    Engine = std::make_unique<TEngine>(*Store, false);
    Skins = std::make_unique<TSkinManager>(std::vector<std::string>{SkinFolder->Path() + "/"});
    Form = std::make_unique<TSettingsForm>(*Skins, "/opt/twinsifter/");
  }
  void cleanup() {
    Form.reset();
    Skins.reset();
    Engine.reset();
    Store.reset();
    qApp->setStyleSheet(QString());
  }

  void DesignedDialog() {
    QCOMPARE(Form->windowTitle(), QStringLiteral(" Settings"));
    QCOMPARE(Form->size(), QSize(441, 280));
    QCOMPARE(Form->minimumSize(), Form->maximumSize());
    Form->show();
    QVERIFY(QTest::qWaitForWindowExposed(Form.get()));
    const QStringList pages = {QStringLiteral(" Comparison "), QStringLiteral(" Marking and Deletion "),
                               QStringLiteral(" Appearance "), QStringLiteral(" General ")};
    QTabBar* bar = Form->sPages->tabBar();
    QCOMPARE(bar->count(), pages.size());
    for (int i = 0; i < bar->count(); ++i) {
      QCOMPARE(bar->tabText(i), pages[i]);
      // Every page's tab whole on the bar, none behind scroll buttons.
      QVERIFY2(bar->tabRect(i).right() < bar->width() && bar->tabRect(i).left() >= 0, qPrintable(pages[i]));
    }
    QVERIFY(Form->sButtonOK->isDefault());
    QCOMPARE(Form->sButtonOK->text(), QStringLiteral("&OK"));
    QCOMPARE(Form->sButtonCancel->text(), QStringLiteral("&Cancel"));
    QCOMPARE(Form->sButtonHelp->text(), QStringLiteral("&Help"));
    QCOMPARE(Form->trkHue->pageStep(), 5);
    QCOMPARE(Form->trkHue->tickInterval(), 36);
    QCOMPARE(Form->trkSat->minimum(), -100);
    QCOMPARE(Form->trkSat->tickInterval(), 20);
  }

  void RoundTripKeepsTheOptionsAndElementZero_data() {
    QTest::addColumn<int>("bits");
    QTest::newRow("unchanged picture only") << 0x01;
    QTest::newRow("no unchanged picture") << 0x00;  // whatever the file said, it comes back
    QTest::newRow("every variant") << 0x7f;
    QTest::newRow("turns without element 0") << 0x0e;
    QTest::newRow("mirrors and grey") << 0x71;
  }
  void RoundTripKeepsTheOptionsAndElementZero() {
    QFETCH(int, bits);
    TCompOpts options = Unusual();
    options.PicVariants = TPicVariants::FromBits(static_cast<std::uint8_t>(bits));
    Engine->Options = options;
    Engine->NeedRescan = false;
    Form->SetOpts(*Engine);

    const std::pair<QCheckBox*, int> boxes[] = {{Form->chkR180, 1}, {Form->chkRP90, 2}, {Form->chkRN90, 3},
                                                {Form->chkFV, 4},   {Form->chkFH, 5},   {Form->chkGrey, 6}};
    for (const auto& [box, element] : boxes) QCOMPARE(box->isChecked(), (bits >> element & 1) != 0);
    QCOMPARE(Form->sDestFolder->text().toStdString(), options.DestFolder);

    Form->GetOpts(*Engine);
    const TCompOpts& back = Engine->Options;
    QCOMPARE(back.PicVariants.Bits(), static_cast<std::uint8_t>(bits));
    QCOMPARE(back.FileComp, options.FileComp);
    QCOMPARE(back.ZeroIgnore, options.ZeroIgnore);
    QCOMPARE(back.MP3Comp, options.MP3Comp);
    QCOMPARE(back.moPicQuality, options.moPicQuality);
    QCOMPARE(back.moFileOlder, options.moFileOlder);
    QCOMPARE(back.DestFolder, options.DestFolder);
    QCOMPARE(back.DelUndo, options.DelUndo);
    QCOMPARE(back.Priority, options.Priority);
    QCOMPARE(back.Thumbs, options.Thumbs);
    QCOMPARE(back.Cache, options.Cache);
    QCOMPARE(back.CacheCount, options.CacheCount);
    QVERIFY(Engine->NeedRescan);  // even with nothing changed
  }

  void ControlsWriteTheirOptions() {
    Engine->Options = Unusual();
    Form->SetOpts(*Engine);
    Form->sFileCombo->setCurrentIndex(4);
    Form->chkZero->click();
    Form->chkMP3->click();
    Form->chkMPicQ->click();
    Form->chkMOld->click();
    Form->chkDelUndo->click();
    Form->sDestFolder->setText(QStringLiteral("/srv/moved"));
    Form->cmbPriority->setCurrentIndex(0);
    Form->cmbThumbs->setCurrentIndex(0);
    Form->chkUseCache->click();
    Engine->NeedRescan = false;
    Form->GetOpts(*Engine);
    const TCompOpts& options = Engine->Options;
    QCOMPARE(options.FileComp, std::uint8_t(4));
    QVERIFY(options.ZeroIgnore && options.MP3Comp && options.moPicQuality && options.moFileOlder && options.DelUndo);
    QCOMPARE(options.DestFolder, std::string("/srv/moved"));
    QCOMPARE(options.Priority, std::uint8_t(0));
    QCOMPARE(options.Thumbs, 0);
    QVERIFY(options.Cache);
    QVERIFY(Engine->NeedRescan);
  }

  // Each box switches the element its tag names, and nothing else.
  void VariantBoxesSwitchTheirElement_data() {
    QTest::addColumn<QString>("box");
    QTest::addColumn<int>("element");
    QTest::newRow("180") << "chkR180" << 1;
    QTest::newRow("90 left") << "chkRP90" << 2;
    QTest::newRow("90 right") << "chkRN90" << 3;
    QTest::newRow("vertical") << "chkFV" << 4;
    QTest::newRow("horizontal") << "chkFH" << 5;
    QTest::newRow("grey") << "chkGrey" << 6;
  }
  void VariantBoxesSwitchTheirElement() {
    QFETCH(QString, box);
    QFETCH(int, element);
    for (std::uint8_t start : {std::uint8_t(0x01), std::uint8_t(0x7e)}) {
      Engine->Options.PicVariants = TPicVariants::FromBits(start);
      Form->SetOpts(*Engine);
      auto* check = Form->findChild<QCheckBox*>(box);
      QVERIFY(check);
      QCOMPARE(check->property("Tag").toInt(), element);
      check->click();
      QCOMPARE(Form->Variants.Bits(), static_cast<std::uint8_t>(start ^ (1U << element)));
      check->click();
      QCOMPARE(Form->Variants.Bits(), start);
      check->click();
      Form->GetOpts(*Engine);
      QCOMPARE(Engine->Options.PicVariants.Bits(), static_cast<std::uint8_t>(start ^ (1U << element)));
    }
  }

  void CacheGaugeFollowsTheSpinField() {
    TCompOpts options;
    options.CacheCount = 1000;
    Form->SetOpts(options, 250);
    QSpinBox* spin = Form->speCacheSize;
    QProgressBar* gauge = Form->sCacheGauge;
    QCOMPARE(spin->minimum(), 100);
    QCOMPARE(spin->maximum(), 50000);
    QCOMPARE(spin->singleStep(), 100);
    QCOMPARE(spin->toolTip(),
             QStringLiteral(" IMPORTANT! Reducing cache size below the actual value will empty the cache! "));
    QCOMPARE(gauge->maximum(), 1000);
    QCOMPARE(gauge->value(), 250);
    QCOMPARE(gauge->text(), QStringLiteral("25%"));

    Form->show();
    spin->setFocus();
    QTest::keyClick(spin, Qt::Key_Up);  // a spin step
    QCOMPARE(spin->value(), 1100);
    QCOMPARE(gauge->maximum(), 1100);
    QCOMPARE(gauge->value(), 250);
    QTest::keyClicks(spin, QStringLiteral("77"));  // typing is off
    QTest::keyClick(spin, Qt::Key_Backspace);
    QCOMPARE(spin->value(), 1100);
    spin->setValue(200);  // fewer than the cache holds: the gauge shows it full
    QCOMPARE(gauge->maximum(), 200);
    QCOMPARE(gauge->value(), 200);
    Form->GetOpts(*Engine);
    QCOMPARE(Engine->Options.CacheCount, 200);
  }

  void CacheBoxHidesTheGaugeButKeepsTheSize() {
    TCompOpts options;
    options.Cache = false;
    options.CacheCount = 3000;
    Form->SetOpts(options, 10);
    QVERIFY(Form->sCacheGauge->isHidden());
    QVERIFY(Form->lblCacheUsage->isHidden());
    QVERIFY(!Form->speCacheSize->isEnabled());
    Form->chkUseCache->click();
    QVERIFY(!Form->sCacheGauge->isHidden() && Form->sCacheGauge->isEnabled());
    QVERIFY(!Form->lblCacheUsage->isHidden());
    QVERIFY(Form->speCacheSize->isEnabled());
    Form->speCacheSize->stepBy(2);
    Form->chkUseCache->click();
    QVERIFY(Form->sCacheGauge->isHidden() && !Form->speCacheSize->isEnabled());
    Form->GetOpts(*Engine);
    QVERIFY(!Engine->Options.Cache);
    QCOMPARE(Engine->Options.CacheCount, 3200);
  }

  // A stored size the field cannot show is kept unless the user moves it: written back as the
  // field's nearest value it would shrink, and so empty, a full cache on a plain OK.
  void StoredSizeBeyondTheFieldSurvivesOk() {
    TCompOpts options;
    options.CacheCount = 60000;
    Form->SetOpts(options, 55000);
    QCOMPARE(Form->speCacheSize->value(), 50000);
    Form->GetOpts(*Engine);
    QCOMPARE(Engine->Options.CacheCount, 60000);
    Form->SetOpts(options, 55000);
    Form->speCacheSize->stepBy(-1);
    Form->GetOpts(*Engine);
    QCOMPARE(Engine->Options.CacheCount, 49900);
  }

  void SkinListShowsTheSkinsAndApplies() {
    QVERIFY(Skins->Apply("Blue"));
    QSignalSpy changed(Skins.get(), &TSkinManager::Changed);
    Form->SetOpts(*Engine);
    QStringList shown;
    for (int i = 0; i < Form->sSkinsList->count(); ++i) shown << Form->sSkinsList->item(i)->text();
    QCOMPARE(shown, QStringList({"Blue", "Classic", "Red", "Standard"}));
    QCOMPARE(Form->sSkinsList->currentRow(), 0);
    QCOMPARE(Form->InitialSkinIndex, 0);
    QCOMPARE(changed.count(), 0);  // opening shows, applies nothing
    Form->sSkinsList->setCurrentRow(2);
    QCOMPARE(Skins->CurrentName(), std::string("Red"));
    QVERIFY(SameText(qApp->styleSheet(), "QWidget { color: #cc3333; }"));
    QCOMPARE(changed.count(), 1);

    // The current skin's file went away: nothing selected, and Cancel still brings it back.
    QVERIFY(Skins->Apply("Blue"));
    std::filesystem::remove(SkinFolder->File("Blue.qss"));
    Form->SetOpts(*Engine);
    QCOMPARE(Form->InitialSkinIndex, -1);
    QCOMPARE(Form->sSkinsList->currentRow(), -1);
    Form->sSkinsList->setCurrentRow(0);  // "Classic" now
    QCOMPARE(Skins->CurrentName(), std::string("Classic"));
    QVERIFY(qApp->styleSheet().isEmpty());
    Form->reject();
    QCOMPARE(Skins->CurrentName(), std::string("Blue"));
    QVERIFY(SameText(qApp->styleSheet(), "QWidget { color: #3366cc; }"));
  }

  // Every way of leaving but OK puts the look of the opening moment back; OK keeps the new one.
  void ClosingRestoresTheLookUnlessOk_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("kept");
    QTest::newRow("cancel") << "cancel" << false;
    QTest::newRow("escape") << "escape" << false;
    QTest::newRow("close button") << "close" << false;
    QTest::newRow("ok") << "ok" << true;
  }
  void ClosingRestoresTheLookUnlessOk() {
    QFETCH(QString, how);
    QFETCH(bool, kept);
    QVERIFY(Skins->Apply("Blue"));
    Skins->SetHue(30);
    Skins->SetSaturation(-10);
    const QString openingSheet = qApp->styleSheet();
    const QColor openingHighlight = QApplication::palette().color(QPalette::Highlight);
    Engine->Options.ZeroIgnore = true;

    bool result = !kept;
    QTimer::singleShot(0, Form.get(), [&] {
      Form->sPages->setCurrentIndex(2);
      Form->sSkinsList->setCurrentRow(2);  // "Red"
      Form->trkHue->setValue(100);
      Form->trkSat->setValue(50);
      Form->chkZero->click();
      QCOMPARE(Skins->CurrentName(), std::string("Red"));  // previewed at once
      QCOMPARE(Skins->Hue(), 100);
      QCOMPARE(Skins->Saturation(), 50);
      if (how == "cancel") Form->sButtonCancel->click();
      if (how == "escape") QTest::keyClick(Form->sSkinsList, Qt::Key_Escape);
      if (how == "close") Form->close();
      if (how == "ok") Form->sButtonOK->click();
    });
    result = Form->Execute(*Engine);
    QCOMPARE(result, kept);
    if (kept) {
      QCOMPARE(Skins->CurrentName(), std::string("Red"));
      QCOMPARE(Skins->Hue(), 100);
      QCOMPARE(Skins->Saturation(), 50);
      QVERIFY(!Engine->Options.ZeroIgnore);
    } else {
      QCOMPARE(Skins->CurrentName(), std::string("Blue"));
      QCOMPARE(Skins->Hue(), 30);
      QCOMPARE(Skins->Saturation(), -10);
      QCOMPARE(qApp->styleSheet(), openingSheet);
      QCOMPARE(QApplication::palette().color(QPalette::Highlight), openingHighlight);
      QVERIFY(Engine->Options.ZeroIgnore);  // the edit was never written
    }
  }

  // A drag shows the colour once, when the button comes up; each key step shows it at once.
  void DragAppliesAtReleaseKeysAtEveryStep_data() {
    QTest::addColumn<QString>("slider");
    QTest::newRow("hue") << "trkHue";
    QTest::newRow("saturation") << "trkSat";
  }
  void DragAppliesAtReleaseKeysAtEveryStep() {
    QFETCH(QString, slider);
    Form->SetOpts(*Engine);
    Form->sPages->setCurrentIndex(2);
    Form->show();
    QVERIFY(QTest::qWaitForWindowExposed(Form.get()));
    QSlider* track = Form->findChild<QSlider*>(slider);
    QVERIFY(track);
    const bool hue = slider == "trkHue";
    const auto applied = [&] { return hue ? Skins->Hue() : Skins->Saturation(); };
    const int start = applied();
    QSignalSpy changed(Skins.get(), &TSkinManager::Changed);

    const QPoint from = HandleCentre(track);
    QTest::mousePress(track, Qt::LeftButton, Qt::NoModifier, from);
    QVERIFY(Form->Dragging);
    for (int dx = 10; dx <= 60; dx += 10) QTest::mouseMove(track, from + QPoint(dx, 0));
    QVERIFY(track->value() > start);
    QCOMPARE(applied(), start);
    QCOMPARE(changed.count(), 0);
    QTest::mouseRelease(track, Qt::LeftButton, Qt::NoModifier, from + QPoint(60, 0));
    QVERIFY(!Form->Dragging);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(applied(), track->value());

    track->setFocus();
    const int before = track->value();
    for (int step = 1; step <= 3; ++step) {
      QTest::keyClick(track, Qt::Key_Right);
      QCOMPARE(applied(), before + step);
      QCOMPARE(changed.count(), 1 + step);
    }
    QTest::keyClick(track, Qt::Key_PageUp);
    QCOMPARE(applied(), before + 3 + 5);
    QCOMPARE(changed.count(), 5);
  }

  void HelpOpensThePagesTopic_data() {
    QTest::addColumn<int>("page");
    QTest::addColumn<QString>("topic");
    QTest::newRow("comparison") << 0 << "a2_08_01.htm";
    QTest::newRow("marking") << 1 << "a2_08_02.htm";
    QTest::newRow("appearance") << 2 << "a2_08_03.htm";
    QTest::newRow("general") << 3 << "a2_08_04.htm";
  }
  void HelpOpensThePagesTopic() {
    QFETCH(int, page);
    QFETCH(QString, topic);
    std::vector<std::string> opened;
    Form->OnHelp = [&](const std::string& name) { opened.push_back(name); };
    Form->show();
    Form->sPages->setCurrentIndex(page);
    QTest::mouseClick(Form->sButtonHelp, Qt::LeftButton);
    QCOMPARE(opened, std::vector<std::string>{topic.toStdString()});
    QVERIFY(Form->isVisible());  // the dialog stays open
  }

  void DestinationChooserStartsAtTheProgramFolder() {
    std::vector<std::string> starts;
    TDialogAnswerer answerer;
    answerer.Folder = [&](const std::string& start, bool allowCreate) -> std::optional<std::string> {
      starts.push_back(start);
      if (!allowCreate) return std::nullopt;
      return Home->Path();
    };
    const TDialogAnswerer previous = SetDialogAnswerer(answerer);
    Engine->Options.DestFolder.clear();
    Form->SetOpts(*Engine);
    Form->sDestBrowse->click();
    QCOMPARE(Form->sDestFolder->text().toStdString(), Home->Path());
    Form->sDestFolder->setText(QStringLiteral("/no/such/folder"));
    Form->sDestBrowse->click();  // from where it chose last
    SetDialogAnswerer(previous);
    QCOMPARE(starts, (std::vector<std::string>{"/opt/twinsifter/", Home->Path()}));
    QCOMPARE(Form->sDestFolder->maxLength(), 255);
  }

private:
  static bool SameText(const QString& a, const char* b) { return a == QString::fromUtf8(b); }
};

TS_QTEST_MAIN(TSettingsTest)
#include "uSettingsTest.moc"
