// Names from files are shown as the characters they are, never as markup: a Combination named
// "<b>Pad" in a file named "<i>...", wherever a person meets them: trees, item panes, the find,
// tips, window titles and message boxes.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QTextDocument>
#include <QTimer>

#include <filesystem>

#include "WSViewRig.h"
#include "banktree/ItemPane.h"
#include "shell/FindBar.h"
#include "shell/FindResults.h"
#include "tests/support/PcgBuilder.h"

namespace bq::test {
namespace {

const QString kName = "<b>Pad";
// Longer than the find bar's counts line has room for.
const QString kFile =
    "<i>" + QString("the live set of the spring tour, ").repeated(4) + "final.pcg";

// What a label shows: its text, or what the markup leaves of it when the label takes it for
// markup.
QString Shown(const QLabel* label) {
    const QString text = label->text();
    const bool markup = label->textFormat() == Qt::RichText ||
                        (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(text));
    if (!markup) {
        return text;
    }
    QTextDocument document;
    document.setHtml(text);
    return document.toPlainText();
}

// What a tip shows: a tip takes text that looks like markup for markup.
QString TipShown(const QString& tip) {
    if (!Qt::mightBeRichText(tip)) {
        return tip;
    }
    QTextDocument document;
    document.setHtml(tip);
    return document.toPlainText();
}

class PlainText : public WSViewRig {
protected:
    void Click(CDragTreeView* tree, QTreeWidgetItem* item) {
        tree->scrollToItem(item);
        WindowInput(main.get()).Click(WindowInput::ItemCentre(tree, item));
    }
    void Type(const QString& text) {
        for (const QChar c : text) {
            QTest::sendKeyEvent(QTest::Press, main->windowHandle(), Qt::Key_unknown, QString(c),
                                Qt::NoModifier);
            QTest::sendKeyEvent(QTest::Release, main->windowHandle(), Qt::Key_unknown, QString(c),
                                Qt::NoModifier);
        }
    }
    static QString PaneName(CItemPane* pane) { return Shown(pane->findChild<QLabel*>("name")); }
};

TEST_F(PlainText, ANameThatLooksLikeMarkupIsShownAsItsCharactersEverywhere) {
    TempFile file(PcgFile(Container("CMB1", {CombiBank(0, {"<b>Pad"})})), kFile.toStdString());
    CPCGBankView* tree = OpenFile(file.Path());
    ASSERT_NE(tree, nullptr);
    CPCGFrame* window = nullptr;
    for (QWidget* w = tree; w != nullptr && window == nullptr; w = w->parentWidget()) {
        window = qobject_cast<CPCGFrame*>(w);
    }
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->windowTitle().endsWith(kFile + "]")) << window->windowTitle().toStdString();

    // The file's tree and item pane.
    QTreeWidgetItem* pad = tree->topLevelItem(0)->child(0)->child(0);
    EXPECT_EQ(pad->text(0), "000 : " + kName);
    Click(tree, pad);
    EXPECT_EQ(PaneName(window->OtherView()), kName);

    // The find: the result, and the counts, which name the file, cut to fit with the whole of
    // them in the tip.
    QTest::keyClick(main->windowHandle(), Qt::Key_F, Qt::ControlModifier);
    ASSERT_NE(main->FindBar(), nullptr);
    Type("pad");
    CFindResultsView* results = main->FindResults();
    ASSERT_EQ(results->topLevelItemCount(), 1);
    QTreeWidgetItem* found = results->topLevelItem(0)->child(0);
    EXPECT_EQ(found->text(CFindResultsView::kName), kName);
    EXPECT_EQ(found->text(CFindResultsView::kWindow), kFile);
    const QString counts = "1 match: " + kFile + " 1";
    QLabel* countsLabel = main->FindBar()->CountsLabel();
    ASSERT_FALSE(countsLabel->toolTip().isEmpty()) << "the counts were not cut";
    EXPECT_TRUE(counts.startsWith(Shown(countsLabel).chopped(1)))
        << Shown(countsLabel).toStdString();
    EXPECT_TRUE(Shown(countsLabel).startsWith("1 match: <i>")) << Shown(countsLabel).toStdString();
    EXPECT_EQ(TipShown(countsLabel->toolTip()), counts);
    QTest::keyClick(main->windowHandle(), Qt::Key_Escape);

    // Written to the instrument, the Workstation shows the name it holds now, and where else
    // that sound is open.
    view->expandItem(Bank(0, 0));
    Drag(tree, pad, Combi(0, 5));
    ASSERT_EQ(Combi(0, 5)->text(0), "005 : " + kName);
    Click(view, Combi(0, 5));
    EXPECT_EQ(PaneName(ws->SecondView()), kName);
    EXPECT_EQ(ws->SecondView()->Places(), QStringList({kFile + ": Combination A 000"}));

    // A message box naming a file: the backup's report of where it went.
    const std::string folder =
        std::filesystem::path(file.Path()).parent_path().string() + "/<u>backups";
    std::filesystem::create_directory(folder);
    const QString target = QString::fromStdString(folder) + "/<b>karma.pcg";
    IMessagePresenter* script = SetMessagePresenter(nullptr);
    QString boxText;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box != nullptr && boxText.isNull()) {
            boxText = Shown(box->findChild<QLabel*>("qt_msgbox_label"));
            WithdrawMessage(IDOK);
        }
    });
    watch.start(10);
    const bool written = main->BackUpWorkstation(target);
    watch.stop();
    SetMessagePresenter(script);
    EXPECT_TRUE(written);
    EXPECT_EQ(boxText, "The whole memory of the Karma was saved in " + target + ".");
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace bq::test
