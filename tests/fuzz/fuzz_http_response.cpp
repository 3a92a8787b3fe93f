// Answers from the device and forms sent to the emulated device: the status
// judge gives the same verdict however the answer is cut into reads, and the
// form and upload parsers never read out of bounds and only hand out cells
// that are well formed.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "FormParser.h"
#include "HttpRequest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const uint8_t mode = data[0] % 3;
    const size_t step = 1 + data[1] % 32;
    const std::string text(reinterpret_cast<const char*>(data + 2), size - 2);

    if (mode == 0) {
        CHttpStatusReader whole;
        whole.Feed(text.data(), text.size());
        CHttpStatusReader pieces;
        for (size_t at = 0; at < text.size(); at += step)
            pieces.Feed(text.data() + at, std::min(step, text.size() - at));
        if (whole.Result() != pieces.Result() || whole.Status() != pieces.Status())
            std::abort();
        if (whole.Result() == CHttpStatusReader::kOk && whole.Status() != 200)
            std::abort();
        if (whole.Result() == CHttpStatusReader::kRejected && (whole.Status() < 101 || whole.Status() == 200))
            std::abort();
    } else if (mode == 1) {
        std::vector<testbed::FormCell> cells;
        std::string error;
        bool ok = testbed::ParseFormCells(text, step % 2 == 0, cells, &error);
        if (!ok && (!cells.empty() || error.empty()))
            std::abort();
        for (const testbed::FormCell& c : cells) {
            if (c.oid.empty() || c.oid.front() == '.' || c.oid.back() == '.' || c.oid.find("..") != std::string::npos ||
                (c.type != 'i' && c.type != 's'))
                std::abort();
            if (c.type == 'i' && c.value.empty())
                std::abort();
        }
    } else {
        std::string package;
        if (testbed::ParseRemoteInstallBody(text, "XyZ", package) && package.size() > text.size())
            std::abort();
    }
    return 0;
}
