#include "common/Exceptions.h"
#include "ui/ErrorReport.h"
#include "ui/PrintSetupDialog.h"

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
    void noSecondReportWhileOneIsOpen();
    void paperMapping_data();
    void paperMapping();

private:
    QStringList FTitles;
    QStringList FTexts;
};

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
    QTest::newRow("letter") << "Printing in progress" << "Printing in progress.";
    QTest::newRow("full stop") << "Done." << "Done.";
    QTest::newRow("space") << "Trailing " << "Trailing ";
    QTest::newRow("comma, below the full stop") << "a," << "a,";
    QTest::newRow("slash, above the full stop") << "a/" << "a/.";
    QTest::newRow("colon") << "Reason:" << "Reason:.";
    QTest::newRow("double quote, below the full stop") << "Cannot open file \"x.plt\"" << "Cannot open file \"x.plt\"";
    QTest::newRow("non-ASCII letter") << QString::fromUtf8("Año") << QString::fromUtf8("Año.");
    QTest::newRow("empty") << "" << "";
    QTest::newRow("system error with line break")
        << "System Error.  Code: 2.\r\nNo such file or directory"
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
}

void TestErrorReport::handlerFailuresAreReported()
{
    QFETCH(int, kind);
    QFETCH(QString, shown);
    RunGuarded([kind] {
        switch (kind) {
        case 0: throw EPrinter(QStringLiteral("There is no default printer currently selected"));
        case 1: throw EConvertError(QStringLiteral("''1 2'' is not a valid integer value"));
        case 2: throw std::runtime_error("bad thing");
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
    QTest::newRow("all fine") << "...." << "";
    QTest::newRow("same failure every tick") << "AAAAAA" << "A";
    QTest::newRow("recovers, then fails again") << "AA.AA" << "AA";
    QTest::newRow("failure changes") << "AABBA" << "ABA";
    QTest::newRow("fails after running fine") << "..A.A" << "AA";
}

void TestErrorReport::repeatedFailures()
{
    QFETCH(QString, ticks);
    QFETCH(QString, reported);
    TRepeatedFailureReporter reporter;
    for (QChar tick : ticks)
        reporter.Run([tick] {
            if (tick != QLatin1Char('.'))
                throw EOSError(QString(tick), 1);
        });
    QString got;
    for (const QString& text : FTexts)
        got += text.left(1);
    QCOMPARE(got, reported);
}

void TestErrorReport::noSecondReportWhileOneIsOpen()
{
    TRepeatedFailureReporter ticks;
    int nested = 0;
    // The first box stays open while more ticks arrive, as a modal box's own
    // message loop lets them.
    SetErrorReportHook([&](const QString&, const QString& text) {
        FTexts << text;
        if (nested++ == 0)
            for (int i = 0; i < 5; ++i)
                ticks.Run([] { throw EOSError(QStringLiteral("B"), 2); });
    });
    RunGuarded([] { throw EPrinter(QStringLiteral("Printing in progress")); });
    QCOMPARE(FTexts, QStringList{QStringLiteral("Printing in progress.")});
    // The failure that met an open box is reported once the box is gone.
    ticks.Run([] { throw EOSError(QStringLiteral("B"), 2); });
    ticks.Run([] { throw EOSError(QStringLiteral("B"), 2); });
    QCOMPARE(FTexts, (QStringList{QStringLiteral("Printing in progress."), QStringLiteral("B.")}));
}

void TestErrorReport::paperMapping_data()
{
    QTest::addColumn<double>("width");
    QTest::addColumn<double>("height");
    QTest::addColumn<bool>("landscape");
    QTest::addColumn<QString>("paper");
    QTest::addColumn<double>("marginLeft");
    QTest::newRow("A4 portrait") << 210.0 << 297.0 << false << "A4" << 5.0;
    QTest::newRow("Letter given landscape-wise") << 279.4 << 215.9 << true << "Letter" << 6.0;
    QTest::newRow("A4 rounded to points") << 209.9 << 297.2 << true << "A4" << 5.0;
    QTest::newRow("unknown size keeps the current paper") << 100.0 << 150.0 << true << "A4" << 5.0;
}

void TestErrorReport::paperMapping()
{
    QFETCH(double, width);
    QFETCH(double, height);
    QFETCH(bool, landscape);
    QFETCH(QString, paper);
    QFETCH(double, marginLeft);
    DeviceSettings a4{QStringLiteral("A4"), 210, 297, 5, 7.5, 4, 6, false, 1016};
    DeviceSettings letter{QStringLiteral("Letter"), 215.9, 279.4, 6, 5, 3, 8, false, 1016};
    const DeviceSettings got = MatchPaper({a4, letter}, a4, width, height, landscape);
    QCOMPARE(got.PaperName, paper);
    QCOMPARE(got.MarginLeftMm, marginLeft);
    QCOMPARE(got.Landscape, landscape);
    QCOMPARE(got.ResolutionDpi, 1016);
}

QTEST_MAIN(TestErrorReport)
#include "test_error_report.moc"
