#include "JournalXlsx.h"

#include <xlsxwriter.h>

#include <algorithm>
#include <array>
#include <clocale>
#include <cmath>
#if !defined(_WIN32)
#include <locale.h>
#endif

namespace waga::journal {

namespace {
enum Column : std::uint16_t { kOd, kDo, kLiczba, kRodzaj, kTekst, kWartosc, kJednostka, kPort };
constexpr std::size_t kTimeChars = 23;  // "2026-12-07 18:53:49.123"
constexpr std::size_t kWidestColumn = 80;
// libxlsxwriter prints numbers with the C library's printf, which follows LC_NUMERIC: under a
// Polish locale a date-time would go into the file as "46363,93" and read back as nothing.
// Each call into it runs with the C numeric locale on this thread only.
#if defined(_WIN32)
using NumericLocale = int;  // unused: the thread's own locale is set per call
NumericLocale NewNumericLocale() { return 0; }
void FreeNumericLocale(NumericLocale) {}
class CNumbers {
  public:
    explicit CNumbers(NumericLocale) : mode_(_configthreadlocale(_ENABLE_PER_THREAD_LOCALE)) {
        const char* now = std::setlocale(LC_NUMERIC, nullptr);
        saved_ = now != nullptr ? now : "C";
        std::setlocale(LC_NUMERIC, "C");
    }
    ~CNumbers() {
        std::setlocale(LC_NUMERIC, saved_.c_str());
        _configthreadlocale(mode_);
    }

  private:
    int mode_;
    std::string saved_;
};
#else
using NumericLocale = locale_t;
NumericLocale NewNumericLocale() {
    const locale_t base = duplocale(LC_GLOBAL_LOCALE);
    const locale_t c = base != nullptr ? newlocale(LC_NUMERIC_MASK, "C", base) : nullptr;
    if (c == nullptr && base != nullptr) freelocale(base);
    return c;
}
void FreeNumericLocale(NumericLocale locale) {
    if (locale != nullptr) freelocale(locale);
}
class CNumbers {
  public:
    explicit CNumbers(NumericLocale c) : previous_(c != nullptr ? uselocale(c) : nullptr) {}
    ~CNumbers() {
        if (previous_ != nullptr) uselocale(previous_);
    }
    CNumbers(const CNumbers&) = delete;
    CNumbers& operator=(const CNumbers&) = delete;

  private:
    locale_t previous_;
};
#endif

}  // namespace

std::string_view CutToUnits(std::string_view text, std::size_t units) {
    std::size_t used = 0;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        const std::size_t cost = length == 4 ? 2 : 1;  // outside the basic plane: a pair
        if (used + cost > units) return text.substr(0, i);
        used += cost;
        i += length;
    }
    return text;
}

std::string EscapeXlsxText(std::string_view text) {
    const auto hex = [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    };
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        // "_xHHHH_" in a cell's text stands for the character HHHH; a literal one gets its
        // underscore written as "_x005F_", which reads back as "_".
        if (text[i] == '_' && i + 6 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
            hex(text[i + 2]) && hex(text[i + 3]) && hex(text[i + 4]) && hex(text[i + 5]) &&
            text[i + 6] == '_') {
            out += "_x005F_";
            continue;
        }
        out += text[i];
    }
    return out;
}

std::size_t DisplayChars(std::string_view text) {
    return std::size_t(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

struct XlsxWriter::Book {
    NumericLocale numbers = NewNumericLocale();
    lxw_workbook* workbook = nullptr;
    lxw_worksheet* sheet = nullptr;
    lxw_format* header = nullptr;
    lxw_format* time = nullptr;
    lxw_format* integer = nullptr;
    lxw_format* text = nullptr;
    // A value's format by its received decimals: "0", "0.0", "0.00", ...
    std::array<lxw_format*, kMaxDecimals + 1> decimals{};
    std::string tmpFolder;
    ~Book() {
        // A workbook that was never finished is freed without writing a file.
        if (workbook != nullptr) lxw_workbook_free(workbook);
        FreeNumericLocale(numbers);
    }
};

XlsxWriter::XlsxWriter(UtcOffsetFn offset) : offset_(std::move(offset)) {}
XlsxWriter::~XlsxWriter() = default;

bool XlsxWriter::Check(int result, const char* what) {
    if (result == LXW_NO_ERROR) return true;
    if (error_.empty()) {
        error_ = std::string(what) + ": " + lxw_strerror(static_cast<lxw_error>(result));
    }
    return false;
}

bool XlsxWriter::Open(const std::string& path, const std::string& tmpFolder) {
    book_ = std::make_unique<Book>();
    book_->tmpFolder = tmpFolder;
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    options.tmpdir = book_->tmpFolder.data();
    options.use_zip64 = LXW_TRUE;  // a long range may pass 4 GB of sheet data
    book_->workbook = workbook_new_opt(path.c_str(), &options);
    if (book_->workbook == nullptr) {
        error_ = "nie można założyć skoroszytu";
        book_.reset();
        return false;
    }
    const CNumbers numbers(book_->numbers);
    lxw_workbook* wb = book_->workbook;
    book_->header = workbook_add_format(wb);
    format_set_bold(book_->header);
    book_->time = workbook_add_format(wb);
    format_set_num_format(book_->time, "yyyy-mm-dd hh:mm:ss.000");
    book_->integer = workbook_add_format(wb);
    format_set_num_format(book_->integer, "0");
    book_->text = workbook_add_format(wb);
    format_set_num_format(book_->text, "@");  // typed over later, still text
    for (int d = 0; d <= kMaxDecimals; ++d) {
        lxw_format* format = workbook_add_format(wb);
        format_set_num_format(format,
                              (d == 0 ? std::string("0") : "0." + std::string(d, '0')).c_str());
        book_->decimals[std::size_t(d)] = format;
    }
    return StartSheet();
}

bool XlsxWriter::StartSheet() {
    FitColumns();
    ++sheets_;
    const std::string name = sheets_ == 1 ? "Dziennik" : "Dziennik " + std::to_string(sheets_);
    book_->sheet = workbook_add_worksheet(book_->workbook, name.c_str());
    if (book_->sheet == nullptr) {
        error_ = "nie można dodać arkusza " + name;
        return false;
    }
    worksheet_freeze_panes(book_->sheet, 1, 0);
    const auto& columns = ExportColumns();
    widths_.assign(columns.size(), 0);
    for (std::size_t c = 0; c < columns.size(); ++c) {
        const std::string title(columns[c]);
        if (!Check(
                worksheet_write_string(book_->sheet, 0, lxw_col_t(c), title.c_str(), book_->header),
                "nagłówek")) {
            return false;
        }
        widths_[c] = DisplayChars(title) + 1;  // bold is wider
    }
    widths_[kOd] = widths_[kDo] = kTimeChars;
    sheetRow_ = 0;
    return true;
}

void XlsxWriter::FitColumns() {
    if (book_ == nullptr || book_->sheet == nullptr) return;
    for (std::size_t c = 0; c < widths_.size(); ++c) {
        const double width = double(std::min(widths_[c], kWidestColumn)) + 1.5;
        worksheet_set_column(book_->sheet, lxw_col_t(c), lxw_col_t(c), width,
                             c == kOd || c == kDo ? book_->time : nullptr);
    }
}

bool XlsxWriter::String(std::uint32_t row, std::uint16_t column, std::string_view text) {
    // A cell holds kCellChars characters, and no character 0 (a C string ends there).
    std::string_view kept = CutToUnits(text, kCellChars);
    kept = kept.substr(0, kept.find('\0'));
    std::string owned = EscapeXlsxText(kept);
    // The escapes count against the cell's limit too.
    for (std::size_t chars = DisplayChars(owned); chars > kCellChars; chars = DisplayChars(owned)) {
        kept = CutToUnits(kept, DisplayChars(kept) - (chars - kCellChars));
        owned = EscapeXlsxText(kept);
    }
    if (kept.size() < text.size()) ++shortened_;
    widths_[column] = std::max(widths_[column], DisplayChars(kept));
    // An empty string would be no cell at all: an empty text stays a blank cell.
    if (kept.empty()) return true;
    return Check(worksheet_write_string(book_->sheet, row, column, owned.c_str(), book_->text),
                 "tekst");
}

bool XlsxWriter::Add(const JournalRow& row) {
    if (book_ == nullptr || !error_.empty()) return false;
    const CNumbers numbers(book_->numbers);
    if (sheetRow_ >= kRowsPerSheet && !StartSheet()) return false;
    const auto r = static_cast<lxw_row_t>(++sheetRow_);
    lxw_worksheet* sheet = book_->sheet;
    bool ok = Check(worksheet_write_number(sheet, r, kOd, SpreadsheetTime(row.firstMs, offset_),
                                           book_->time),
                    "czas") &&
              Check(worksheet_write_number(sheet, r, kDo, SpreadsheetTime(row.lastMs, offset_),
                                           book_->time),
                    "czas") &&
              Check(worksheet_write_number(sheet, r, kLiczba, double(row.count), book_->integer),
                    "liczba");
    widths_[kLiczba] = std::max(widths_[kLiczba], std::to_string(row.count).size());
    ok = ok && String(r, kRodzaj, ExportKindName(row.kind)) && String(r, kTekst, row.text);
    if (ok && row.value && std::isfinite(*row.value)) {
        const std::optional<int> decimals = ValueDecimals(row);
        lxw_format* format = decimals ? book_->decimals[std::size_t(*decimals)] : nullptr;
        ok = Check(worksheet_write_number(sheet, r, kWartosc, *row.value, format), "wartość");
        widths_[kWartosc] = std::max(widths_[kWartosc], FormatValue(row, ',').size());
    }
    ok = ok && String(r, kJednostka, row.unit) && String(r, kPort, row.port);
    if (ok) ++rows_;
    return ok;
}

bool XlsxWriter::Finish() {
    if (book_ == nullptr) return false;
    lxw_error result = LXW_NO_ERROR;
    if (error_.empty()) {
        const CNumbers numbers(book_->numbers);  // back to this thread's own before the free
        FitColumns();
        lxw_workbook* workbook = book_->workbook;
        book_->workbook = nullptr;
        result = workbook_close(workbook);
    }
    const bool written = error_.empty();
    book_.reset();
    return written && Check(result, "zapis skoroszytu");
}

}  // namespace waga::journal
