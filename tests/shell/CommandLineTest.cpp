// `bankquill FILE...`: the application opens each file named on its command line as File > Open
// does.

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QMdiArea>
#include <QMdiSubWindow>

#include "UiTestSupport.h"
#include "shell/BankquillApp.h"
#include "shell/PCGFrame.h"
#include "tests/support/PcgBuilder.h"

namespace bq::test {
namespace {

TEST(CommandLine, EachFileOpensInItsOwnWindowAndOneThatCannotBeReadIsReported) {
    NoMidiServices services;
    ScriptedPresenter presenter;
    TempFile first(PcgFile(Container("CMB1", {CombiBank(0, {"Strings"})})), "first.pcg");
    TempFile triton(PcgFile(Bytes{}, 0x50), "triton.pcg");
    TempFile second(PcgFile(Container("CMB1", {CombiBank(1, {"Brass"})})), "second.PCG");
    const QString firstPath = QString::fromStdString(first.Path());
    const QString folder = QFileInfo(firstPath).absolutePath();
    const QString home = QDir::currentPath();
    // A relative name, as a shell passes it, is taken from the current folder.
    ASSERT_TRUE(QDir::setCurrent(folder));

    CBankquillApp app(services);
    ASSERT_TRUE(app.InitInstance());
    app.OpenFiles({QStringLiteral("first.pcg"), QStringLiteral("missing.pcg"),
                   QString::fromStdString(triton.Path()), QString::fromStdString(second.Path())});
    QDir::setCurrent(home);

    QStringList titles;
    for (QMdiSubWindow* window : app.MainFrame()->MdiArea()->subWindowList()) {
        if (qobject_cast<CPCGFrame*>(window) != nullptr) {
            titles << window->windowTitle();
        }
    }
    EXPECT_EQ(titles, (QStringList{"PCG File - [" + firstPath + "]",
                                   "PCG File - [" + QString::fromStdString(second.Path()) + "]"}));
    // What File > Open says of the same files, in the order given.
    EXPECT_EQ(presenter.Texts(),
              (QStringList{"Load PCG File. No such file or directory",
                           "Triton format PCG files are not currently supported."}));
}

}  // namespace
}  // namespace bq::test
