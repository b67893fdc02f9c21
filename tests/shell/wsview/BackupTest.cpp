// File > Back Up Workstation over the loopback: which banks it asks for, what its one dialog
// says, the file it writes, and what stays when the instrument refuses. (Cancel and a folder
// that cannot be written are tested against the virtual Karma over JACK.)
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <set>

#include "WSViewRig.h"
#include "model/PcgWriter.h"
#include "tests/support/PcgBuilder.h"
#include "tests/support/qt/QtPrinters.h"
#include "workstation/MIDIProgressDlg.h"
#include "workstation/WSBackup.h"

namespace bq::test {
namespace {

Bytes ReadAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QByteArray bytes = file.readAll();
    return Bytes(bytes.begin(), bytes.end());
}

// The file a backup of the whole of `karma` must be.
Bytes ExpectedFile(const VirtualKarma& karma) {
    pcg::KarmaMemory memory;
    for (int bank = 0; bank < 6; ++bank) {
        memory.combis[bank] = karma.CombiBank(bank);
        memory.programs[bank] = karma.ProgramBank(bank);
    }
    Bytes file;
    EXPECT_TRUE(pcg::BuildPcg(memory, &file));
    return file;
}

class Backup : public WSViewRig {
protected:
    // The names in the backup's folder, which must hold nothing else afterwards.
    QStringList Folder() const { return QDir(folder.path()).entryList(QDir::Files | QDir::Hidden); }
    QString Target() const { return folder.filePath("karma.pcg"); }

    QTemporaryDir folder;
};

TEST_F(Backup, OnlyBanksNotDownloadedInThisConnectionAreAskedForUnderOneDialog) {
    // Program bank A comes in an earlier connection, Combination bank B in this one.
    view->expandItem(Bank(1, 0));
    ws->close();
    Connect();
    view->expandItem(Bank(0, 1));
    karma->SetCombiRecord(0, 0, CombiRecord("Changed").data(), 996);
    loopback.ClearSentMessages();

    std::set<QString> texts;
    bool cancelEnabled = false;
    bool mainDisabled = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (CMIDIProgressDlg* dialog = ws->ProgressDialog()) {
            texts.insert(dialog->findChild<QLabel*>("statusText")->text());
            cancelEnabled = dialog->findChild<QPushButton*>("cancelButton")->isEnabled();
            mainDisabled = mainDisabled || !main->isEnabled();
        }
    });
    watch.start(0);
    ASSERT_TRUE(main->BackUpWorkstation(Target()));
    watch.stop();

    ASSERT_EQ(SentCount(), 11u);
    std::set<QString> expected;
    for (int index = 0; index < 12; ++index) {
        if (index != 1) {
            expected.insert(CWSBackup::BankStepText(index));
        }
    }
    EXPECT_EQ(texts, expected);
    EXPECT_TRUE(texts.count("Bank 4 of 12: Combination Bank D"));
    EXPECT_TRUE(texts.count("Bank 12 of 12: Program Bank F (MOSS)"));
    EXPECT_EQ(loopback.SentMessages(0)[0],
              Bytes({0xF0, 0x42, 0x30, 0x5D, 0x1D, 0x10, 0x00, 0x00, 0xF7}));
    EXPECT_EQ(loopback.SentMessages(0)[5],  // Program bank A again, from this connection
              Bytes({0xF0, 0x42, 0x30, 0x5D, 0x1C, 0x10, 0x00, 0x00, 0xF7}));
    EXPECT_TRUE(cancelEnabled);
    EXPECT_TRUE(mainDisabled);
    EXPECT_TRUE(main->isEnabled());
    EXPECT_EQ(ReadAll(Target()), ExpectedFile(*karma));
    EXPECT_EQ(Folder(), QStringList{"karma.pcg"});
    EXPECT_EQ(presenter.Texts(),
              QStringList{"The whole memory of the Karma was saved in " + Target() + "."});

    // The banks are in the tree now, the changed one too; a second backup asks for nothing.
    for (int group = 0; group < 2; ++group) {
        for (int bank = 0; bank < 6; ++bank) {
            EXPECT_EQ(Bank(group, bank)->childCount(), 128) << group << bank;
        }
    }
    EXPECT_EQ(Combi(0, 0)->text(0), "000 : Changed");
    loopback.ClearSentMessages();
    ASSERT_TRUE(main->BackUpWorkstation(Target()));
    EXPECT_EQ(SentCount(), 0u);
    EXPECT_EQ(ReadAll(Target()), ExpectedFile(*karma));
}

TEST_F(Backup, ARefusedBankWritesNothingAndKeepsAnEarlierFile) {
    const Bytes earlier = {'e', 'a', 'r', 'l', 'i', 'e', 'r'};
    {
        QFile file(Target());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(reinterpret_cast<const char*>(earlier.data()), earlier.size());
    }
    view->expandItem(Bank(0, 0));
    VirtualKarma::Faults refuse;
    refuse.refuseDumps = true;
    karma->SetFaults(refuse);
    EXPECT_FALSE(main->BackUpWorkstation(Target()));
    EXPECT_EQ(presenter.Texts(),
              QStringList{"The backup was not written: the Karma refused to send Combination "
                          "Bank B."});
    EXPECT_EQ(ReadAll(Target()), earlier);
    EXPECT_EQ(Folder(), QStringList{"karma.pcg"});
    EXPECT_TRUE(main->isEnabled());
}

TEST_F(Backup, TheFileMenuOffersANewFileInTheHomeFolder) {
    QAction* command = main->CommandAction(ID_FILE_BACKUP);
    ASSERT_NE(command, nullptr);
    EXPECT_EQ(command->text(), "&Back Up Workstation...\tCtrl+B");
    EXPECT_EQ(command->shortcut(), QKeySequence("Ctrl+B"));
    std::unique_ptr<QFileDialog> dialog = main->CreateBackupDialog();
    EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_EQ(dialog->windowTitle(), "Back Up Workstation");
    ASSERT_EQ(dialog->selectedFiles().size(), 1);
    const QString chosen = dialog->selectedFiles().first();
    EXPECT_EQ(QFileInfo(chosen).absolutePath(), QDir::homePath());
    EXPECT_TRUE(QRegularExpression("^karma-backup-\\d{4}-\\d\\d-\\d\\d-\\d{4}\\.pcg$")
                    .match(QFileInfo(chosen).fileName())
                    .hasMatch())
        << chosen.toStdString();
    EXPECT_EQ(CWSBackup::DefaultFileName(QDateTime(QDate(2024, 3, 7), QTime(9, 5))),
              "karma-backup-2024-03-07-0905.pcg");
}

}  // namespace
}  // namespace bq::test
