#pragma once
// The maker's data shown by the program (logo hint, "Waga" page, about dialog). The maker is
// fictional: the telephone numbers are placeholders and the addresses use the reserved
// .example domain, so no link can reach a real company. Texts are UTF-8.

namespace maker {

inline constexpr const char* kBrand = "VEK";
// Company name with its legal form (end of the link hints of the about dialog).
inline constexpr const char* kCompanyName = "VEK Sp.j.";
// Company name and city (label under the logo).
inline constexpr const char* kCompanyLine = "VEK Sp.j. Kraków";
inline constexpr const char* kPhoneFaxLine = "tel./fax (00) 000 00 00";
inline constexpr const char* kSecondPhoneLine = "tel. (00) 000 00 01";
inline constexpr const char* kSlogan = "Wagi VEK - ważymy dokładnie";
// Web address as a host name, without a scheme (logo hint of the main window).
inline constexpr const char* kWebHost = "www.vek.example";
// Web address with its scheme (link of the about dialog).
inline constexpr const char* kWebUrl = "http://www.vek.example";
inline constexpr const char* kEmail = "biuro@vek.example";

}  // namespace maker
