#include "ui/SampleMemo.h"

#include <utility>

TSampleMemo::TSampleMemo(QWidget* parent) : QPlainTextEdit(parent)
{}

void TSampleMemo::SetTextOnFirstUse(std::function<QString()> text)
{
    FPending = std::move(text);
}

QString TSampleMemo::toPlainText() const
{
    Fill();
    return QPlainTextEdit::toPlainText();
}

void TSampleMemo::showEvent(QShowEvent* event)
{
    Fill();
    QPlainTextEdit::showEvent(event);
}

void TSampleMemo::Fill() const
{
    if (!FPending)
        return;
    const std::function<QString()> text = std::exchange(FPending, nullptr);
    // Filling changes the document, not what the control stands for.
    const_cast<TSampleMemo*>(this)->setPlainText(text());
}
