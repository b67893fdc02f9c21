// File > Restore Workstation over the loopback: what its question shows, that only the slots
// that differ are written (Combinations and Programs), the file it saves first, one Undo step,
// and a write the instrument refuses. (The command line's restore is tried over JACK.)
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTimer>

#include "WSViewRig.h"
#include "model/PcgMemory.h"
#include "model/PcgWriter.h"
#include "tests/support/PcgBuilder.h"
#include "tests/support/qt/QtPrinters.h"
#include "workstation/RestoreDialog.h"

namespace bq::test {
namespace {

Bytes With(Bytes bank, int slot, const Bytes& record) {
    std::copy(record.begin(), record.end(), bank.begin() + slot * record.size());
    return bank;
}

class Restore : public WSViewRig {
protected:
    void SetUp() override {
        WSViewRig::SetUp();
        // The home folder is the test program's: what an earlier case saved there goes.
        for (const QString& name : Saved()) {
            QDir::home().remove(name);
        }
        loopback.ClearSentMessages();  // the search's
    }
    // A file holding the instrument's Combination bank A and Program bank B, but for the
    // records given.
    QString File(const Bytes& combis, const Bytes& programs) {
        pcg::KarmaMemory memory;
        memory.combis[0] = combis;
        memory.programs[1] = programs;
        const QString path = QDir(QDir::homePath()).filePath("backup.pcg");
        EXPECT_TRUE(pcg::WritePcgFile(QFile::encodeName(path).toStdString(), memory).Succeeded());
        return path;
    }
    // Answers the restore's question when it comes: what it shows, then Restore or Cancel.
    void AnswerQuestion(bool restore) {
        QTimer::singleShot(0, [this, restore] {
            auto* dialog = qobject_cast<CRestoreDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr) {
                AnswerQuestion(restore);  // not up yet: the downloads come first
                return;
            }
            for (QCheckBox* box : dialog->findChildren<QCheckBox*>()) {
                question << QStringLiteral("%1%2").arg(box->isChecked() ? "[x] " : "[ ] ",
                                                       box->text());
            }
            restore ? dialog->accept() : dialog->reject();
        });
    }
    // The safety files written into the home folder.
    QStringList Saved() const {
        return QDir::home().entryList({"karma-before-restore-*.pcg"}, QDir::Files);
    }

    QStringList question;
};

TEST_F(Restore, OnlyTheSlotsThatDifferAreWrittenAfterWhatWasThereIsSavedAndUndoTakesItAllBack) {
    const Bytes combis = karma->CombiBank(0);
    const Bytes programs = karma->ProgramBank(1);
    const QString path = File(With(With(combis, 3, CombiRecord("Three")), 7, CombiRecord("Seven")),
                              With(programs, 9, ProgramRecord("Nine")));
    AnswerQuestion(true);
    presenter.Answer(IDOK);  // what was written
    ASSERT_TRUE(main->RestoreWorkstation(path));

    EXPECT_EQ(question, QStringList({"[x] Combination Bank A: 2 of 128 slots differ",
                                     "[x] Program Bank B: 1 of 128 slots differ",
                                     "[x] Save what the Karma holds now in these banks to " +
                                         QDir::home().filePath(Saved().value(0)) + " first"}));
    // Two banks downloaded, then exactly the three writes.
    ASSERT_EQ(SentCount(), 5u);
    EXPECT_EQ(karma->CombiRecord(0, 3), CombiRecord("Three"));
    EXPECT_EQ(karma->CombiRecord(0, 7), CombiRecord("Seven"));
    EXPECT_EQ(karma->ProgramRecord(1, 9), ProgramRecord("Nine"));
    EXPECT_EQ(Combi(0, 3)->text(0), "003 : Three");
    EXPECT_EQ(presenter.Texts(),
              QStringList{"The Karma now holds what backup.pcg holds: 3 slots were written."});
    // The banks as they were, in a file of their own.
    ASSERT_EQ(Saved().size(), 1);
    pcg::KarmaMemory saved;
    ASSERT_EQ(pcg::ReadPcgMemory(QDir::home().filePath(Saved()[0]).toStdString(), &saved), S_OK);
    EXPECT_EQ(saved.combis[0], combis);
    EXPECT_EQ(saved.programs[1], programs);

    EXPECT_EQ(UndoItem(), "&Undo Restore of 2 Banks\tCtrl+Z");
    Undo();
    EXPECT_EQ(karma->CombiBank(0), combis);
    EXPECT_EQ(karma->ProgramBank(1), programs);
    EXPECT_EQ(Combi(0, 3)->text(0), "003 : Combi A-003");
    EXPECT_EQ(SentCount(), 8u);
}

TEST_F(Restore, ARefusedWriteStopsItSayingWhereAndTheHistoryKeepsWhatWasWritten) {
    view->expandItem(Bank(0, 0));
    const Bytes combis = karma->CombiBank(0);
    const QString path =
        File(With(With(With(combis, 1, CombiRecord("One")), 4, CombiRecord("Four")), 5,
                  CombiRecord("Five")),
             karma->ProgramBank(1));
    instrument->FailWrite(2);
    AnswerQuestion(true);
    presenter.Answer(IDOK);
    EXPECT_FALSE(main->RestoreWorkstation(path));
    EXPECT_EQ(question.value(1), "[ ] Program Bank B: the same as on the Karma");
    EXPECT_EQ(presenter.Texts(),
              QStringList{"The restore stopped: the Karma refused the write to Combination Bank "
                          "A, slot 004. 1 of 3 slots were written."});
    EXPECT_EQ(karma->CombiRecord(0, 1), CombiRecord("One"));
    EXPECT_EQ(karma->CombiRecord(0, 4), Bytes(combis.begin() + 4 * 996, combis.begin() + 5 * 996));
    EXPECT_EQ(Combi(0, 1)->text(0), "001 : One");
    EXPECT_EQ(Combi(0, 4)->text(0), "004 : Combi A-004");
    EXPECT_EQ(UndoItem(), "&Undo Restore of 1 Bank\tCtrl+Z");
    Undo();
    EXPECT_EQ(karma->CombiBank(0), combis);
}

TEST_F(Restore, AFileTheKarmaHoldsAlreadyWritesNothingAndCancelChangesNothing) {
    const Bytes combis = karma->CombiBank(0);
    presenter.Answer(IDOK);
    EXPECT_FALSE(main->RestoreWorkstation(File(combis, karma->ProgramBank(1))));
    EXPECT_EQ(presenter.Texts(),
              QStringList{"The Karma already holds everything backup.pcg holds."});
    EXPECT_EQ(SentCount(), 2u);  // the two banks, downloaded to compare

    AnswerQuestion(false);
    EXPECT_FALSE(main->RestoreWorkstation(
        File(With(combis, 0, CombiRecord("Zero")), karma->ProgramBank(1))));
    EXPECT_EQ(SentCount(), 2u);  // known now: nothing downloaded again, nothing written
    EXPECT_EQ(karma->CombiBank(0), combis);
    EXPECT_TRUE(Saved().isEmpty());
}

}  // namespace
}  // namespace bq::test
