#include "output/WindowCalls.h"
#include "plot/SampleText.h"
#include "tests/support/StdText.h"
#include "ui/Pictures.h"
#include "ui/SampleMemo.h"

#include <QtTest>

#include <atomic>

// Pieces the main window is built from, on their own.
class TestWindowParts : public QObject {
    Q_OBJECT
private slots:
    void memoHoldsItsTextForEveryReader();
    void memoShownShowsItsText();
    void picturesLoad();
    void spoolerCallsOfOneKindNeverOverlap();
};

// Whoever reads first gets the whole sample, line by line, and the text is
// made once however often it is read.
void TestWindowParts::memoHoldsItsTextForEveryReader()
{
    TSampleMemo memo;
    int made = 0;
    memo.SetTextOnFirstUse([&made] {
        ++made;
        return QStr(BuiltInSampleText());
    });
    QCOMPARE(memo.toPlainText(), BuiltInSampleText());
    QCOMPARE(memo.toPlainText(), BuiltInSampleText());
    QCOMPARE(made, 1);
    QCOMPARE(memo.document()->blockCount(), int(BuiltInSampleLines().size()));
    QCOMPARE(memo.document()->toPlainText(), BuiltInSampleText());

    // A later text replaces one not filled in yet.
    TSampleMemo other;
    other.SetTextOnFirstUse([] { return QStringLiteral("first"); });
    other.SetTextOnFirstUse([] { return QStringLiteral("IN;\nSP0;"); });
    QCOMPARE(other.toPlainText(), QStringLiteral("IN;\nSP0;"));
}

// Shown without being read first, the control still shows the text.
void TestWindowParts::memoShownShowsItsText()
{
    TSampleMemo memo;
    memo.SetTextOnFirstUse([] { return QStr(BuiltInSampleText()); });
    memo.show();
    QCOMPARE(memo.document()->toPlainText(), BuiltInSampleText());
}

void TestWindowParts::picturesLoad()
{
    const QString size = QStringLiteral(":/pictures/size.png");
    QCOMPARE(LoadPicture(size).toImage(), QPixmap(size).toImage());
    QVERIFY(LoadPicture(QStringLiteral(":/pictures/none.png")).isNull());

    const QList<QSize> sizes = ApplicationIcon().availableSizes();
    for (int edge : {16, 24, 32, 48})
        QVERIFY2(sizes.contains(QSize(edge, edge)), qPrintable(QString::number(edge)));
}

// A second status tick while the first still waits on the server runs
// nothing; another kind of call runs beside it. The answers come back on
// this thread through Qt's queue, as the window hands them over.
void TestWindowParts::spoolerCallsOfOneKindNeverOverlap()
{
    TWindowCalls calls([this](std::function<void()> answer) {
        QMetaObject::invokeMethod(this, std::move(answer), Qt::QueuedConnection);
    });
    std::atomic<bool> release{false};
    int done = 0;
    const auto count = [&](const std::string&) {
        QCOMPARE(QThread::currentThread(), thread());
        ++done;
    };
    const auto failed = [](const std::string&, bool, TWindowCalls::Clock::time_point) {};
    QVERIFY(calls.Start(
        TWindowCalls::Status,
        [&] {
            while (!release)
                QThread::msleep(1);
            return std::string();
        },
        count, failed));
    QVERIFY(!calls.Start(
        TWindowCalls::Status, [] { return std::string(); }, count, failed));
    QVERIFY(calls.Start(
        TWindowCalls::Name, [] { return std::string(); }, count, failed));
    release = true;
    QTRY_COMPARE(done, 2);
    QVERIFY(!calls.Busy(TWindowCalls::Status));
}

QTEST_MAIN(TestWindowParts)
#include "test_window_parts.moc"
