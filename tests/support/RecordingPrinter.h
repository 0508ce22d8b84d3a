#pragma once

// A printer object that keeps a log of what it was asked instead of talking
// to a server; put in place with ScopedPrinter. Each step can be told to
// fail, to test the paths a real device rarely takes.

#include "common/Exceptions.h"
#include "platform/PrinterObject.h"

#include <QStringList>

class RecordingPrinter final : public TPrinter, private DrawingSurface {
public:
    QStringList Log;
    QStringList FailAt; // steps starting with any of these throw
    bool JobOpen = false;
    SheetShare Drawn; // what the canvas says fell on the sheet
    HandedJob Handed; // what ending the job says the spooler took

    void GetPrinter(DeviceIdentity& identity, DeviceSettings& settings) override
    {
        Step(QStringLiteral("GetPrinter"));
        identity = {"Fake", {}, {}};
        settings = {};
    }
    bool KnownPrinter(DeviceIdentity& identity, DeviceSettings& settings) override
    {
        GetPrinter(identity, settings);
        return true;
    }
    void SetPrinter(const DeviceIdentity&, const DeviceSettings&) override { Step(QStringLiteral("SetPrinter")); }
    int PageWidth() override { return 21000; }
    int PageHeight() override { return 29700; }
    void BeginJob(const std::string&, const JobTarget&) override
    {
        if (JobOpen)
            throw EPrinter("Printing in progress");
        Step(QStringLiteral("BeginJob"));
        JobOpen = true;
    }
    HandedJob EndDoc() override
    {
        JobOpen = false;
        Step(QStringLiteral("EndDoc"));
        return Handed;
    }
    void AbortDoc() noexcept override
    {
        JobOpen = false;
        Log << QStringLiteral("AbortDoc");
    }
    bool Printing() const override { return JobOpen; }
    DrawingSurface& Canvas() override { return *this; }

private:
    void Step(const QString& step)
    {
        Log << step;
        for (const QString& failing : FailAt)
            if (step.startsWith(failing))
                throw EOSError("failed at " + step.toStdString(), 1);
    }
    void SetMapMode(int mode) override { Step(QStringLiteral("SetMapMode %1").arg(mode)); }
    // Unit pixels under the metric mapping: y turns upward.
    void DPtoLP(TPoint* points, int count) override
    {
        for (int i = 0; i < count; ++i)
            points[i].Y = -points[i].Y;
    }
    void SetViewportOrgEx(int x, int y) override { Step(QStringLiteral("Viewport %1,%2").arg(x).arg(y)); }
    void SetWindowOrgEx(std::int64_t x, std::int64_t y) override { Step(QStringLiteral("Window %1,%2").arg(x).arg(y)); }
    void MoveTo(int x, int y) override { Step(QStringLiteral("MoveTo %1,%2").arg(x).arg(y)); }
    void Polyline(const TPoint*, int count) override { Step(QStringLiteral("Polyline %1").arg(count)); }
    SheetShare Share() const override { return Drawn; }
};
