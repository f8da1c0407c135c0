#include "ReportLimit.h"

#include "LineRouting.h"
#include "TextToInt.h"

LimitVerdict CheckLineLimit(const Win1250Text& text) {
    const std::optional<std::int32_t> value = TextToInt(text.Bytes());
    if (!value) return {LimitCheck::NotANumber, 0};
    if (*value > kMaxReportLines || *value < kMinReportLines)
        return {LimitCheck::OutOfRange, *value};
    return {LimitCheck::Accepted, *value};
}

std::string LimitMessage(LimitCheck check) {
    switch (check) {
        case LimitCheck::NotANumber:
            return "Podana wartość nie jest prawidłowa!";
        case LimitCheck::OutOfRange:
            return "Ilość linii musi być liczbą z przedziału " + std::to_string(kMinReportLines) +
                   "-" + std::to_string(kMaxReportLines) + ".";
        case LimitCheck::Accepted:
            break;
    }
    return "";
}

int TrimReportForLimit(IReportLines& view, std::int32_t value) {
    const int count = view.ReportLineCount();
    if (value >= count) return 0;
    const int deletions = count - value + 1;
    for (int i = 0; i < deletions; ++i) view.DeleteFirstReportLine();
    return deletions;
}
