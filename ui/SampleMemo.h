#pragma once

#include <QPlainTextEdit>
#include <QString>

#include <functional>

// The window's hidden, read-only store of the sample text. Building a
// 920-block text document takes a noticeable part of start-up, and the text
// is only needed when a Cut reads it, so the document is filled on first use:
// when the text is read through this class, or when the control is shown.
class TSampleMemo : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit TSampleMemo(QWidget* parent = nullptr);

    // Sets the text the document is filled with on first use; replaces any
    // text not filled in yet.
    void SetTextOnFirstUse(std::function<QString()> text);

    // Hides QPlainTextEdit::toPlainText (not virtual) so that reads through
    // this class fill the document first.
    QString toPlainText() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Fill() const;

    mutable std::function<QString()> FPending;
};
