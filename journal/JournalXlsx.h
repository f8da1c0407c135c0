#pragma once
// Journal rows as an XLSX workbook, the format for a double-click: typed cells that no
// spreadsheet has to guess. "Od" and "Do" are date-times in local time shown to the millisecond,
// "Liczba" an integer, "Wartość" a number (empty without a value), the rest strings, always
// written as strings, never as formulas. The header row is bold and frozen, the columns as wide
// as their longest text (up to a limit). Written with libxlsxwriter, row by row, in constant
// memory.
//
// A sheet holds at most 1,048,575 rows below its header: the rows go on in a further sheet
// ("Dziennik 2", ...). A text longer than a cell holds (32,767 characters) is cut there, one with
// a character 0 (only a damaged file holds one) before it, and counted (Shortened()); CSV and
// JSON keep it whole.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "JournalExport.h"

namespace waga::journal {

class XlsxWriter {
  public:
    static constexpr std::int64_t kRowsPerSheet = 1'048'575;
    static constexpr std::size_t kCellChars = 32'767;

    explicit XlsxWriter(UtcOffsetFn offset);
    ~XlsxWriter();
    XlsxWriter(const XlsxWriter&) = delete;
    XlsxWriter& operator=(const XlsxWriter&) = delete;

    // Starts a workbook that Finish() writes to `path` (UTF-8). Its temporary files go to
    // `tmpFolder`. False with Error() when it cannot be started.
    bool Open(const std::string& path, const std::string& tmpFolder);
    bool Add(const JournalRow& row);
    // Writes the file; false with Error() when it could not be written whole.
    bool Finish();

    std::int64_t Rows() const { return rows_; }
    std::int64_t Shortened() const { return shortened_; }
    const std::string& Error() const { return error_; }

  private:
    struct Book;
    bool StartSheet();
    void FitColumns();
    bool Check(int result, const char* what);
    bool String(std::uint32_t row, std::uint16_t column, std::string_view text);

    UtcOffsetFn offset_;
    std::unique_ptr<Book> book_;
    std::int64_t rows_ = 0;
    std::int64_t shortened_ = 0;
    std::uint32_t sheetRow_ = 0;
    int sheets_ = 0;
    std::vector<std::size_t> widths_;  // the widest text of each column in the current sheet
    std::string error_;
};

// `text` cut to at most `units` UTF-16 code units, at a character's boundary (UTF-8 in and out).
std::string_view CutToUnits(std::string_view text, std::size_t units);
// `text` as a cell holds it: a spreadsheet reads "_xHHHH_" in a cell as the character HHHH, so
// the underscore of each such sequence in the text is written as "_x005F_".
std::string EscapeXlsxText(std::string_view text);
// The characters `text` shows as (UTF-8 code points).
std::size_t DisplayChars(std::string_view text);

}  // namespace waga::journal
