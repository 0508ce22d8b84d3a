#include "common/ErrorText.h"

#include "common/Exceptions.h"

#include <exception>
#include <new>

std::string ErrorReportText(std::string_view message)
{
    std::string text(message);
    if (!text.empty() && static_cast<unsigned char>(text.back()) > '.')
        text += '.';
    return text;
}

std::string CurrentExceptionMessage()
{
    try {
        throw;
    } catch (const Exception& e) {
        return e.Message();
    } catch (const std::bad_alloc&) {
        // "std::bad_alloc" tells a user nothing.
        return "Out of memory: there is not enough memory to do this";
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "Unknown error";
    }
}
