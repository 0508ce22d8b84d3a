#include "platform/cups/CupsDevices.h"

#include "common/Exceptions.h"
#include "platform/DeviceCapabilities.h"
#include "platform/SpoolerBackend.h"
#include "platform/cups/UserDefault.h"

#include <cmath>
#include <cstring>

namespace vcups {

const char* const DeviceAttributes[] = {
    "printer-name",
    "printer-make-and-model",
    "device-uri",
    "printer-uri-supported",
    "printer-location",
    "printer-info",
    "printer-state",
    "printer-state-message",
    "printer-state-reasons",
    "printer-is-accepting-jobs",
    "media-col-default",
    "media-col-database",
    "media-default",
    "printer-resolution-default",
    "document-format-supported",
};
const int DeviceAttributeCount = static_cast<int>(sizeof DeviceAttributes / sizeof DeviceAttributes[0]);

namespace {

int IntOf(ipp_t* collection, const char* name)
{
    ipp_attribute_t* a = ippFindAttribute(collection, name, IPP_TAG_INTEGER);
    return a ? ippGetInteger(a, 0) : 0;
}

// media-col: sizes and margins in hundredths of a millimetre.
bool SettingsFromMediaCol(ipp_t* col, DeviceSettings& s)
{
    ipp_attribute_t* size = ippFindAttribute(col, "media-size", IPP_TAG_BEGIN_COLLECTION);
    if (!size)
        return false;
    ipp_t* sz = ippGetCollection(size, 0);
    const int w = IntOf(sz, "x-dimension");
    const int h = IntOf(sz, "y-dimension");
    if (w <= 0 || h <= 0)
        return false;
    s.PaperWidthMm = w / 100.0;
    s.PaperHeightMm = h / 100.0;
    s.MarginLeftMm = IntOf(col, "media-left-margin") / 100.0;
    s.MarginBottomMm = IntOf(col, "media-bottom-margin") / 100.0;
    s.MarginRightMm = IntOf(col, "media-right-margin") / 100.0;
    s.MarginTopMm = IntOf(col, "media-top-margin") / 100.0;
    if (pwg_media_t* m = pwgMediaForSize(w, h))
        s.PaperName = ValidUtf8(m->ppd ? m->ppd : m->pwg, true);
    else
        s.PaperName = Format("Custom.%1x%2mm", s.PaperWidthMm, s.PaperHeightMm);
    return true;
}

int ResolutionOf(ipp_t* attrs)
{
    ipp_attribute_t* a = ippFindAttribute(attrs, "printer-resolution-default", IPP_TAG_RESOLUTION);
    if (!a)
        return 0;
    ipp_res_t units;
    int y = 0;
    int x = ippGetResolution(a, 0, &y, &units);
    if (units == IPP_RES_PER_CM)
        x = static_cast<int>(std::lround(x * 2.54));
    return x;
}

} // namespace

DeviceIdentity IdentityFrom(ipp_t* attrs)
{
    return {AttrText(attrs, "printer-name"), AttrText(attrs, "printer-make-and-model"), AttrText(attrs, "device-uri")};
}

PrinterInfo2 InfoFrom(ipp_t* attrs)
{
    PrinterInfo2 info;
    if (ippFindAttribute(attrs, "printer-name", IPP_TAG_ZERO))
        info.PrinterName = AttrText(attrs, "printer-name");
    info.DriverName = AttrText(attrs, "printer-make-and-model");
    info.PortName = AttrText(attrs, "device-uri");
    info.Location = AttrText(attrs, "printer-location");
    info.Comment = AttrText(attrs, "printer-info");
    ipp_attribute_t* state = ippFindAttribute(attrs, "printer-state", IPP_TAG_ENUM);
    switch (state ? ippGetInteger(state, 0) : 0) {
    case IPP_PSTATE_IDLE: info.StatusText = "Ready"; break;
    case IPP_PSTATE_PROCESSING: info.StatusText = "Printing"; break;
    case IPP_PSTATE_STOPPED: info.StatusText = "Paused"; break;
    default: break;
    }
    info.Stopped = state && ippGetInteger(state, 0) == IPP_PSTATE_STOPPED;
    info.StateMessage = AttrText(attrs, "printer-state-message");
    if (ipp_attribute_t* reasons = ippFindAttribute(attrs, "printer-state-reasons", IPP_TAG_KEYWORD))
        for (int i = 0; i < ippGetCount(reasons); ++i)
            if (const char* r = ippGetString(reasons, i, nullptr); r && std::strcmp(r, "none") != 0)
                info.StateReasons.push_back(ValidUtf8(r, true));
    return info;
}

std::vector<DeviceSettings> PapersFrom(ipp_t* attrs)
{
    std::vector<DeviceSettings> papers;
    const int resolution = ResolutionOf(attrs);
    ipp_attribute_t* db = ippFindAttribute(attrs, "media-col-database", IPP_TAG_BEGIN_COLLECTION);
    for (int i = 0, n = db ? ippGetCount(db) : 0; i < n; ++i) {
        DeviceSettings s;
        if (!SettingsFromMediaCol(ippGetCollection(db, i), s))
            continue;
        s.ResolutionDpi = resolution;
        bool seen = false;
        for (const DeviceSettings& p : papers)
            seen = seen || p == s;
        if (!seen)
            papers.push_back(s);
    }
    return papers;
}

bool TakesCutterLanguage(ipp_t* attrs)
{
    // A raw queue passes bytes straight to the device: a PDF would reach the
    // cutter as it is and cut nothing.
    if (PassThroughDriver(AttrText(attrs, "printer-make-and-model")))
        return true;
    ipp_attribute_t* formats = ippFindAttribute(attrs, "document-format-supported", IPP_TAG_MIMETYPE);
    if (!formats)
        return false; // a server that does not say is trusted with PDF
    for (int i = 0, n = ippGetCount(formats); i < n; ++i)
        if (const char* format = ippGetString(formats, i, nullptr);
            format && std::strcmp(format, "application/pdf") == 0)
            return false;
    return true;
}

DeviceSettings DefaultSettingsFrom(ipp_t* attrs)
{
    DeviceSettings s = FallbackSettings();
    bool found = false;
    if (ipp_attribute_t* def = ippFindAttribute(attrs, "media-col-default", IPP_TAG_BEGIN_COLLECTION))
        found = SettingsFromMediaCol(ippGetCollection(def, 0), s);
    if (!found) {
        // Only the keyword: take the first database entry of that size.
        const std::string keyword = AttrText(attrs, "media-default");
        if (pwg_media_t* m = pwgMediaForPWG(keyword.c_str())) {
            for (const DeviceSettings& p : PapersFrom(attrs)) {
                if (std::lround(p.PaperWidthMm * 100) == m->width && std::lround(p.PaperHeightMm * 100) == m->length) {
                    s = p;
                    break;
                }
            }
        }
    }
    if (const int r = ResolutionOf(attrs); r > 0)
        s.ResolutionDpi = r;
    if (TakesCutterLanguage(attrs))
        TakeCutterLanguageDefaults(s);
    return s;
}

std::string MediaKeyword(const DeviceSettings& s)
{
    const int w = static_cast<int>(std::lround(s.PaperWidthMm * 100));
    const int h = static_cast<int>(std::lround(s.PaperHeightMm * 100));
    if (pwg_media_t* m = pwgMediaForSize(w, h))
        return std::string(m->pwg);
    char name[IPP_MAX_NAME];
    pwgFormatSizeName(name, sizeof name, "custom", nullptr, w, h, nullptr);
    return std::string(name);
}

IppPtr QueryDevice(Connection& connection, const std::string& name, IppError& err)
{
    IppPtr request =
        name.empty() ? NewRequest(IPP_OP_CUPS_GET_DEFAULT) : NewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, name);
    ippAddStrings(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", DeviceAttributeCount,
                  nullptr, DeviceAttributes);
    return connection.Do(std::move(request), "/", err);
}

} // namespace vcups

std::vector<DeviceSettings> QueuePapers(const std::string& name)
{
    using namespace vcups;
    IppError err;
    auto c = Connection::Open(Clock::now() + QueryBudget(), err);
    if (!c)
        return {};
    IppPtr attrs = QueryDevice(*c, name, err);
    return attrs ? PapersFrom(attrs.get()) : std::vector<DeviceSettings>{};
}

DeviceSettings QueueDefaults(const std::string& name)
{
    using namespace vcups;
    IppError err;
    auto c = Connection::Open(Clock::now() + QueryBudget(), err);
    if (!c)
        return FallbackSettings();
    IppPtr attrs = QueryDevice(*c, name, err);
    return attrs ? DefaultSettingsFrom(attrs.get()) : FallbackSettings();
}

QueueDevice DefaultQueue()
{
    using namespace vcups;
    const UserDefault chosen = UserDefaultDestination();
    // A value that names no queue is refused, never read as "the default".
    CheckUserDefault(chosen);
    IppError err;
    auto http = Connection::Open(Clock::now() + QueryBudget(), err);
    if (!http)
        throw EOSError::FromCode(err.Code, err.Text);
    IppPtr attrs = QueryDevice(*http, chosen.Name, err);
    QueueDevice found{{}, FallbackSettings()};
    if (attrs) {
        found = {IdentityFrom(attrs.get()), DefaultSettingsFrom(attrs.get())};
    } else if (err.Code != IPP_STATUS_ERROR_NOT_FOUND) {
        throw EOSError::FromCode(err.Code, err.Text);
    } else if (!chosen.Name.empty()) {
        // Named by the user but unknown to the server: still the device
        // lp would use, so the window shows its failures, not another's.
        found.Identity.Device = chosen.Name;
    }
    return found;
}

std::optional<QueueDevice> FindQueue(const std::string& name)
{
    using namespace vcups;
    if (name.empty())
        return std::nullopt;
    IppError err;
    auto http = Connection::Open(Clock::now() + QueryBudget(), err);
    if (!http)
        throw EOSError::FromCode(err.Code, err.Text);
    IppPtr attrs = QueryDevice(*http, name, err);
    if (!attrs) {
        if (err.Code == IPP_STATUS_ERROR_NOT_FOUND)
            return std::nullopt;
        throw EOSError::FromCode(err.Code, err.Text);
    }
    return QueueDevice{IdentityFrom(attrs.get()), DefaultSettingsFrom(attrs.get())};
}
