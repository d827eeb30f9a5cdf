#include "eml.h"
#include <windows.h>
#include <cstdio>
#include <cwctype>

namespace pvlmail {

namespace {

std::string Utf8(const std::wstring& s) {
    if (s.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
    std::string out(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), n, nullptr, nullptr);
    return out;
}

bool IsPlainAscii(const std::string& s) {
    for (unsigned char c : s)
        if (c < 0x20 || c > 0x7E) return false;
    return true;
}

// Text that may go as it is in a 7bit part: printable ASCII, tabs and line ends.
bool IsSevenBitText(const std::string& s) {
    for (unsigned char c : s)
        if ((c < 0x20 && c != '\r' && c != '\n' && c != '\t') || c > 0x7E) return false;
    return true;
}

// A header value: as it is when it is printable ASCII, else as an RFC 2047 encoded word.
std::string HeaderText(const std::wstring& value) {
    const std::string utf8 = Utf8(value);
    if (IsPlainAscii(utf8)) return utf8;
    std::vector<unsigned char> bytes(utf8.begin(), utf8.end());
    std::string b64 = Base64Lines(bytes);
    std::string joined;
    for (char c : b64)
        if (c != '\r' && c != '\n') joined += c;
    return "=?UTF-8?B?" + joined + "?=";
}

// Body text with CRLF line ends; a lone LF or CR becomes CRLF.
std::string CrlfText(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r') {
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
            out += "\r\n";
        } else if (c == '\n') {
            out += "\r\n";
        } else {
            out += c;
        }
    }
    if (out.size() < 2 || out.compare(out.size() - 2, 2, "\r\n") != 0) out += "\r\n";
    return out;
}

std::string DateHeader() {
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    SYSTEMTIME t;
    GetSystemTime(&t);
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02u %s %04u %02u:%02u:%02u +0000", days[t.wDayOfWeek % 7], t.wDay,
                  months[(t.wMonth + 11) % 12], t.wYear, t.wHour, t.wMinute, t.wSecond);
    return text;
}

std::string UniqueToken() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    char text[64];
    std::snprintf(text, sizeof text, "%08lX%08lX.%lX", static_cast<unsigned long>(ft.dwHighDateTime),
                  static_cast<unsigned long>(ft.dwLowDateTime), static_cast<unsigned long>(GetCurrentProcessId()));
    return text;
}

}  // namespace

std::string MediaTypeFor(const std::wstring& fileName) {
    const size_t dot = fileName.find_last_of(L'.');
    std::wstring ext = dot == std::wstring::npos ? L"" : fileName.substr(dot + 1);
    for (auto& c : ext) c = static_cast<wchar_t>(std::towlower(c));
    if (ext == L"mp3") return "audio/mpeg";
    if (ext == L"wav") return "audio/wav";
    if (ext == L"txt") return "text/plain";
    return "application/octet-stream";
}

std::string Base64Lines(const std::vector<unsigned char>& data) {
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve(data.size() * 4 / 3 + data.size() / 38 + 8);
    size_t line = 0;
    for (size_t i = 0; i < data.size(); i += 3) {
        const unsigned v = (data[i] << 16) | (i + 1 < data.size() ? data[i + 1] << 8 : 0) |
                           (i + 2 < data.size() ? data[i + 2] : 0);
        out += alphabet[(v >> 18) & 63];
        out += alphabet[(v >> 12) & 63];
        out += i + 1 < data.size() ? alphabet[(v >> 6) & 63] : '=';
        out += i + 2 < data.size() ? alphabet[v & 63] : '=';
        if ((line += 4) == 76) {
            out += "\r\n";
            line = 0;
        }
    }
    if (line) out += "\r\n";
    return out;
}

std::string BuildEml(const EmlMessage& m) {
    const std::string token = UniqueToken();
    const std::string boundary = "----=_Parvaline_" + token;
    std::string out;
    out += "From: " + HeaderText(m.from) + "\r\n";
    if (!m.to.empty()) out += "To: " + HeaderText(m.to) + "\r\n";
    out += "Subject: " + HeaderText(m.subject) + "\r\n";
    out += "Date: " + DateHeader() + "\r\n";
    out += "Message-ID: <" + token + "@parvaline.invalid>\r\n";
    out += "MIME-Version: 1.0\r\n";
    out += "X-Mailer: Parvaline Mail\r\n";
    out += "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\r\n";
    out += "\r\nThis is a multi-part message in MIME format.\r\n\r\n";

    const std::string body = Utf8(m.body);
    out += "--" + boundary + "\r\n";
    if (IsSevenBitText(body)) {
        out += "Content-Type: text/plain; charset=us-ascii\r\nContent-Transfer-Encoding: 7bit\r\n\r\n";
        out += CrlfText(body);
    } else {
        out += "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: base64\r\n\r\n";
        out += Base64Lines(std::vector<unsigned char>(body.begin(), body.end()));
    }
    for (const EmlAttachment& a : m.attachments) {
        const std::string name = HeaderText(a.fileName);
        out += "\r\n--" + boundary + "\r\n";
        out += "Content-Type: " + MediaTypeFor(a.fileName) + "; name=\"" + name + "\"\r\n";
        out += "Content-Transfer-Encoding: base64\r\n";
        out += "Content-Disposition: attachment; filename=\"" + name + "\"\r\n\r\n";
        out += Base64Lines(a.data);
    }
    out += "\r\n--" + boundary + "--\r\n";
    return out;
}

}  // namespace pvlmail
