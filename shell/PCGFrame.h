#pragma once

#include <QMdiSubWindow>

#include <memory>

class CItemPane;
class CKorgPCGFile;
class CPCGBankView;
class QSplitter;

// A document window showing one loaded PCG file: a splitter with the bank view (250 pixels)
// and the item pane (100 pixels), which shows the item selected in it. It owns the file; the views
// go first when it is destroyed.
class CPCGFrame : public QMdiSubWindow {
    Q_OBJECT
public:
    explicit CPCGFrame(std::unique_ptr<CKorgPCGFile> file, QWidget* parent = nullptr);
    ~CPCGFrame() override;

    // Rows of the bank view that the window shows when it first opens.
    static constexpr int kOpeningRows = 24;

    CKorgPCGFile* GetFile() const { return m_pFile.get(); }
    QSplitter* Splitter() const { return m_splitter.get(); }
    CPCGBankView* BankView() const { return m_bankView; }
    CItemPane* OtherView() const { return m_otherView; }

    // The size the window opens at: the bank view shows kOpeningRows rows.
    QSize sizeHint() const override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    std::unique_ptr<CKorgPCGFile> m_pFile;
    // Declared after the file so that it (and the views in it) is destroyed before the file.
    std::unique_ptr<QSplitter> m_splitter;
    CPCGBankView* m_bankView = nullptr;
    CItemPane* m_otherView = nullptr;
    // The title until the window is first shown (see showEvent).
    QString m_pendingTitle;
};
