#include "UiTestSupport.h"

#include "plot/UPLT.h"
#include "tests/support/PrivateCupsServer.h"
#include "ui/TFrmPrincipal.h"

#include <QtTest>

#include <memory>

// A machine without any printer: the window still starts whole, says so
// once, Cut reports the missing device instead of printing, and a printer
// set up later is picked up without a restart.
class TestNoPrinter : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void startsWholeAndReportsOnce();

private:
    std::unique_ptr<PrivateCupsServer> FServer;
};

void TestNoPrinter::initTestCase()
{
    FServer = std::make_unique<PrivateCupsServer>();
    QVERIFY2(FServer->isValid(), qPrintable(FServer->errorText()));
    QVERIFY(FServer->deleteQueue(QStringLiteral("TestCutter")));
}

void TestNoPrinter::startsWholeAndReportsOnce()
{
    const QString noPrinter = QStringLiteral("There is no default printer currently selected.");
    ReportRecorder reports;
    TFrmPrincipal form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    QTRY_COMPARE(reports.Texts, QStringList{noPrinter});
    QVERIFY(form.Store());
    QCOMPARE(form.ImagenHoja->pixmap().toImage(), form.ListaDeImagenes.Image(2).toImage());
    QCOMPARE(form.LImpresora->text(), QString());
    // Also run at QT_SCALE_FACTOR=2: the pictures carry the screen's pixels.
    const qreal ratio = qEnvironmentVariable("QT_SCALE_FACTOR", QStringLiteral("1")).toDouble();
    QCOMPARE(form.devicePixelRatioF(), ratio);
    for (const auto& [shown, name] : {std::pair{form.ImagenHoja, "preview-2"}, {form.ImagenMedidas, "size"}}) {
        const QPixmap plain(QStringLiteral(":/pictures/%1.png").arg(QLatin1String(name)));
        QCOMPARE(shown->pixmap().size(), plain.size() * ratio);
        QCOMPARE(shown->pixmap().deviceIndependentSize(), QSizeF(plain.size()));
    }

    // The timer fails on every tick the same way; nothing more is shown.
    QTest::qWait(1200);
    QCOMPARE(reports.Texts.size(), 1);
    QCOMPARE(form.LStatus->text(), QString());

    QTest::mouseClick(form.BtnCut, Qt::LeftButton);
    QTRY_COMPARE(reports.Texts.size(), 2);
    QCOMPARE(reports.Texts.at(1), noPrinter);
    QVERIFY(FServer->jobFiles().isEmpty());

    // The window stays usable: the position list still drives the preview.
    form.CmbPosicion->setCurrentIndex(8);
    emit form.CmbPosicion->activated(8);
    QCOMPARE(form.ImagenHoja->pixmap().toImage(), form.ListaDeImagenes.Image(8).toImage());
    QCOMPARE(reports.Texts.size(), 2);

    QVERIFY(FServer->addQueue(QStringLiteral("TestCutter")));
    QVERIFY(FServer->setDefault(QStringLiteral("TestCutter")));
    QTRY_COMPARE(form.LImpresora->text(), QStringLiteral("TestCutter"));
    QTRY_COMPARE(form.LStatus->text(), QStringLiteral("No jobs in queue"));
    QCOMPARE(reports.Texts.size(), 2);
}

QTEST_MAIN(TestNoPrinter)
#include "test_no_printer.moc"
