#include "common/Exceptions.h"
#include "output/RepeatedFailureReporter.h"
#include "ui/ErrorReport.h"

#include <QMessageBox>
#include <QtTest>

#include <stdexcept>

class TestErrorReport : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void fullStopRule_data();
    void fullStopRule();
    void handlerFailuresAreReported_data();
    void handlerFailuresAreReported();
    void repeatedFailures_data();
    void repeatedFailures();
    void passingFailuresWaitTheirPatience();
    void noSecondReportWhileOneIsOpen();
    void boxShowsTheTextAsWritten();

private:
    QStringList FTitles;
    QStringList FTexts;
};

namespace {
// The window's reporter, as it reports: through the standard error report.
TRepeatedFailureReporter BoxReporter(std::chrono::milliseconds patience = std::chrono::milliseconds(1000))
{
    return TRepeatedFailureReporter(
        [](const std::string& message) { ShowErrorReport(QString::fromStdString(message)); },
        [] { return ErrorReportShowing(); }, patience);
}
} // namespace

void TestErrorReport::init()
{
    FTitles.clear();
    FTexts.clear();
    SetErrorReportHook([this](const QString& title, const QString& text) {
        FTitles << title;
        FTexts << text;
    });
}

void TestErrorReport::cleanup()
{
    SetErrorReportHook({});
}

void TestErrorReport::fullStopRule_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("shown");
    QTest::newRow("letter") << "Printing in progress"
                            << "Printing in progress.";
    QTest::newRow("full stop") << "Done."
                               << "Done.";
    QTest::newRow("space") << "Trailing "
                           << "Trailing ";
    QTest::newRow("comma, below the full stop") << "a,"
                                                << "a,";
    QTest::newRow("slash, above the full stop") << "a/"
                                                << "a/.";
    QTest::newRow("colon") << "Reason:"
                           << "Reason:.";
    QTest::newRow("double quote, below the full stop") << "Cannot open file \"x.plt\""
                                                       << "Cannot open file \"x.plt\"";
    QTest::newRow("non-ASCII letter") << QString::fromUtf8("Año") << QString::fromUtf8("Año.");
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("system error with line break") << "System Error.  Code: 2.\r\nNo such file or directory"
                                                  << "System Error.  Code: 2.\r\nNo such file or directory.";
}

void TestErrorReport::fullStopRule()
{
    QFETCH(QString, message);
    QFETCH(QString, shown);
    QCOMPARE(ErrorReportText(message), shown);
}

void TestErrorReport::handlerFailuresAreReported_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("shown");
    QTest::newRow("printer") << 0 << "There is no default printer currently selected.";
    QTest::newRow("conversion") << 1 << "''1 2'' is not a valid integer value.";
    QTest::newRow("standard exception") << 2 << "bad thing.";
    QTest::newRow("anything else") << 3 << "Unknown error.";
    QTest::newRow("out of memory") << 4 << "Out of memory: there is not enough memory to do this.";
}

void TestErrorReport::handlerFailuresAreReported()
{
    QFETCH(int, kind);
    QFETCH(QString, shown);
    RunGuarded([kind] {
        switch (kind) {
        case 0: throw EPrinter("There is no default printer currently selected");
        case 1: throw EConvertError("''1 2'' is not a valid integer value");
        case 2: throw std::runtime_error("bad thing");
        case 4: throw std::bad_alloc();
        default: throw 42;
        }
    });
    QCOMPARE(FTexts, QStringList{shown});
    QCOMPARE(FTitles, QStringList{QStringLiteral("Vellico Output Test")});
    QVERIFY(!ErrorReportShowing());
}

// Each character is one tick: '.' succeeds, a letter fails with that message.
void TestErrorReport::repeatedFailures_data()
{
    QTest::addColumn<QString>("ticks");
    QTest::addColumn<QString>("reported");
    QTest::newRow("all fine") << "...."
                              << "";
    QTest::newRow("same failure every tick") << "AAAAAA"
                                             << "A";
    QTest::newRow("recovers, then fails again") << "AA.AA"
                                                << "AA";
    QTest::newRow("failure changes") << "AABBA"
                                     << "ABA";
    QTest::newRow("fails after running fine") << "..A.A"
                                              << "AA";
}

void TestErrorReport::repeatedFailures()
{
    QFETCH(QString, ticks);
    QFETCH(QString, reported);
    TRepeatedFailureReporter reporter = BoxReporter();
    for (QChar tick : ticks)
        reporter.Run([tick] {
            if (tick != QLatin1Char('.'))
                throw EOSError(QString(tick).toStdString(), 1);
        });
    QString got;
    for (const QString& text : FTexts)
        got += text.left(1);
    QCOMPARE(got, reported);
}

// A server that is slow or out of reach for a moment raises no box; one that
// stays so is reported once; the server's own answer is reported at once.
void TestErrorReport::passingFailuresWaitTheirPatience()
{
    using namespace std::chrono;
    TRepeatedFailureReporter reporter = BoxReporter(milliseconds(1000));
    const auto now = TRepeatedFailureReporter::Clock::now();
    reporter.Failed("late", false, now - milliseconds(300));
    reporter.Failed("late", false, now);
    QCOMPARE(FTexts, QStringList());
    reporter.Succeeded();
    // A new episode starts its own clock: an old failure no longer counts.
    reporter.Failed("late", false, now);
    QCOMPARE(FTexts, QStringList());
    // The call that failed began long enough ago: reported, once.
    reporter.Succeeded();
    reporter.Failed("late", false, now - milliseconds(1500));
    reporter.Failed("late", false, now);
    QCOMPARE(FTexts, QStringList{QStringLiteral("late.")});
    // Every tick fails quickly, but failing has lasted the patience since the
    // first: reported.
    reporter.Succeeded();
    reporter.Failed("again", false, TRepeatedFailureReporter::Clock::now() - milliseconds(600));
    QTest::qSleep(500);
    reporter.Failed("again", false, TRepeatedFailureReporter::Clock::now());
    QCOMPARE(FTexts, (QStringList{QStringLiteral("late."), QStringLiteral("again.")}));
    reporter.Succeeded();
    reporter.Failed("answered", true, now);
    QCOMPARE(FTexts, (QStringList{QStringLiteral("late."), QStringLiteral("again."), QStringLiteral("answered.")}));
}

void TestErrorReport::noSecondReportWhileOneIsOpen()
{
    TRepeatedFailureReporter ticks = BoxReporter();
    int nested = 0;
    // The first box stays open while more ticks arrive, as a modal box's own
    // message loop lets them.
    SetErrorReportHook([&](const QString&, const QString& text) {
        FTexts << text;
        if (nested++ == 0)
            for (int i = 0; i < 5; ++i)
                ticks.Run([] { throw EOSError("B", 2); });
    });
    RunGuarded([] { throw EPrinter("Printing in progress"); });
    QCOMPARE(FTexts, QStringList{QStringLiteral("Printing in progress.")});
    // The failure that met an open box is reported once the box is gone.
    ticks.Run([] { throw EOSError("B", 2); });
    ticks.Run([] { throw EOSError("B", 2); });
    QCOMPARE(FTexts, (QStringList{QStringLiteral("Printing in progress."), QStringLiteral("B.")}));
}

// A file or queue name with markup in it is shown as written, not rendered.
void TestErrorReport::boxShowsTheTextAsWritten()
{
    SetErrorReportHook({});
    Qt::TextFormat format = Qt::RichText;
    QString text;
    QTimer::singleShot(0, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w)) {
                format = box->textFormat();
                text = box->text();
                box->accept();
            }
    });
    ShowErrorReport(QStringLiteral("Cannot open file \"<b>x</b>.plt\""));
    QCOMPARE(format, Qt::PlainText);
    QVERIFY2(text.contains(QLatin1String("<b>x</b>")), qPrintable(text));
}

QTEST_MAIN(TestErrorReport)
#include "test_error_report.moc"
