#pragma once

#include <QString>
#include <QStringList>

#include <initializer_list>

#include "messages/StringId.h"
#include "midi/MidiServices.h"
#include "model/Result.h"

class QWidget;

namespace bq {

// Message-box styles and answers, with the values of the Windows flags they stand for.
enum MessageStyle : unsigned {
    MB_OK = 0x00,
    MB_YESNO = 0x04,
    MB_ICONERROR = 0x10,
    MB_ICONWARNING = 0x30,
    MB_DEFBUTTON2 = 0x100,  // the second button (No) is the default, not the first
};
enum MessageAnswer : int {
    IDOK = 1,
    IDCANCEL = 2,
    IDYES = 6,
    IDNO = 7,
};

// Shows questions and failures to the user. The program has one at a time; tests replace the
// default (modal QMessageBox boxes) with a scripted one.
class IMessagePresenter {
public:
    virtual ~IMessagePresenter() = default;
    // Modal: returns the answer once the user has given it.
    virtual int Show(const QString& text, unsigned style) = 0;
    // Ends the question that is open now, if any, as if the user had answered `answer`.
    virtual void Withdraw(int answer) = 0;
    // A question with answers of its own, first to last: the index of the one chosen, or
    // `escapeIndex` when the box is closed without one.
    virtual int Choose(const QString& text, unsigned style, const QStringList& answers,
                       int defaultIndex, int escapeIndex) = 0;
};

// Installs a presenter (null restores the default) and returns the one it replaces. The
// caller keeps ownership.
IMessagePresenter* SetMessagePresenter(IMessagePresenter* presenter);

// The window that owns message boxes and that transfers disable: the main window.
void SetMainWindow(QWidget* window);
QWidget* MainWindow();

// Fills the "%s" of a string-table format in order ("%%" is a percent sign). The arguments
// are never read as formats, so names from devices and files are safe in them.
QString FormatText(const QString& format, std::initializer_list<QString> args);

// A tip that shows `text` as it is written: a tip takes text that looks like markup for markup,
// and names from files and devices may look like it.
QString PlainTip(const QString& text);

// User-interface thread only.
int ShowMessage(const QString& text, unsigned style);
int ShowMessage(StringId id, unsigned style);
int ShowChoice(const QString& text, unsigned style, const QStringList& answers, int defaultIndex,
               int escapeIndex);
void WithdrawMessage(int answer);

// "<context>. <detail>" with the detail the readable text of the code, else UnknownError.
void ReportError(StringId context, HRESULT code);
// The MIDI service's own text for the code, cut at 254 characters.
void ReportMidiInError(midi::IMidiServices& services, midi::MidiResult code);
void ReportMidiOutError(midi::IMidiServices& services, midi::MidiResult code);

}  // namespace bq
