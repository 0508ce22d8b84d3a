#pragma once

// Cutter command languages: each writes one job of tool-up moves and cuts in
// its own syntax, streamed to a device as it is produced, so a plot of any
// size never sits in memory as a whole job.

#include "cutter/ByteSink.h"
#include "cutter/DeviceSettings.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// A position in plotter units from the cutter's origin.
struct PlotterPoint {
    std::int64_t X = 0;
    std::int64_t Y = 0;
    friend bool operator==(const PlotterPoint&, const PlotterPoint&) = default;
};

// mm to plotter units, to the nearest unit, halves away from zero.
std::int64_t ToPlotterUnits(double mm, double unitsPerMm) noexcept;

class CutterEncoder {
public:
    explicit CutterEncoder(ByteSink& sink);
    virtual ~CutterEncoder();
    CutterEncoder(const CutterEncoder&) = delete;
    CutterEncoder& operator=(const CutterEncoder&) = delete;

    virtual double UnitsPerMm() const noexcept = 0;
    virtual SendAs Language() const noexcept = 0;

    // The job's opening instructions.
    virtual void Begin() = 0;
    // Lifts the tool and moves it to p.
    virtual void MoveTo(PlotterPoint p) = 0;
    // Cuts a straight line from the current position to p.
    virtual void CutTo(PlotterPoint p) = 0;
    // Lifts the tool and sets the force and the speed for what follows, in
    // the language's own commands; a value of 0, or one the language has no
    // command for, is not sent. The values are in range (ToolSettingProblem).
    void SetTool(const ToolSetting& tool);
    // Lifts the tool, closes the job and hands everything to the sink.
    // Throws EFileError when the sink refuses bytes, here or in any call
    // above (bytes go out in pieces while the job is drawn); after a failure
    // nothing more is written and End throws the same again.
    void End();

protected:
    virtual void Close() = 0;
    // Lifts the tool and ends any instruction under way.
    virtual void Pause() = 0;
    // Ends an instruction.
    virtual void PutEnd() = 0;
    void Put(std::string_view text);
    void Put(char c) { Put(std::string_view(&c, 1)); }
    void PutNumber(std::int64_t v);
    void PutPair(PlotterPoint p);

private:
    void Flush();
    [[noreturn]] void Fail();

    ByteSink& FSink;
    std::unique_ptr<char[]> FBuffer;
    size_t FUsed = 0;
    std::string FFailure;
};

// The encoder for a language; nullptr for SendAs::Driver.
std::unique_ptr<CutterEncoder> MakeCutterEncoder(SendAs language, ByteSink& sink);

// The force and speed a language takes, in its own units: the instruction,
// the lowest and highest value its makers document, and the unit for the
// user. Empty Command: the language has no command for it.
struct ToolRange {
    std::string_view Command;
    int Low = 0;
    int High = 0;
    std::string_view Unit;
};
ToolRange ForceRange(SendAs language);
// The language's name for the user: "HPGL", "DMPL", "GP-GL", "CAMM-GL".
std::string_view LanguageName(SendAs language);
ToolRange SpeedRange(SendAs language);
// What of the corrections a job in the language goes without, said once for
// the user in one sentence ("CAMM-GL cannot take the force: it is left
// out"); empty when it takes them all. A job through a driver takes the
// scale alone; CAMM-GL has no command for the force or the speed. The
// ladder's and the grid's own values are not counted.
std::string LeftOutCorrectionsNotice(SendAs language, const CutterCorrections& c);
// What is wrong with the force and speed for the language, for the user;
// empty when each is 0 (unset), in range, or for a language without its
// command (which sends nothing for it).
std::string ToolSettingProblem(SendAs language, const ToolSetting& tool);

// How a job the encoder above wrote is cut short once its first `sent` bytes
// have gone: More bytes of it finish the coordinate pair (or the instruction)
// under way, then Close lifts the tool and ends the job as End would. Nothing
// at all before the first byte or after the last, and for SendAs::Driver.
struct CutterJobEnding {
    std::ptrdiff_t More = 0;
    std::string Close;
};
CutterJobEnding StoppedJobEnding(SendAs language, std::string_view job, std::ptrdiff_t sent);

// How many bytes of text, from `at`, may go to a cutter that has room for
// `room` more: the most that ends where the cutter holds no half
// instruction, that is after an instruction or, within a cut, after a whole
// coordinate pair (the places where a stopped job needs nothing more of the
// text to end). All of the rest when it fits. 0 when not even the next
// instruction or pair fits: the sender waits for more room. text is a job
// the encoder above wrote, or the ending of one (StoppedJobEnding).
std::ptrdiff_t BlockBytes(SendAs language, std::string_view text, std::ptrdiff_t at, std::ptrdiff_t room);
