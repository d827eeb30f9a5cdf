// A mail as an Internet message file (.eml): MIME multipart/mixed with a plain-text body and each
// attachment in base64, CRLF line ends throughout, which every mail program opens.
#pragma once
#include <string>
#include <vector>

namespace pvlmail {

struct EmlAttachment {
    std::wstring fileName;
    std::vector<unsigned char> data;
};

struct EmlMessage {
    std::wstring from;
    std::wstring to;
    std::wstring subject;
    std::wstring body;
    std::vector<EmlAttachment> attachments;
};

// The media type a mail program expects for a file name: audio/mpeg for .mp3 and so on.
std::string MediaTypeFor(const std::wstring& fileName);
std::string Base64Lines(const std::vector<unsigned char>& data);  // 76 characters a line, CRLF
std::string BuildEml(const EmlMessage& message);

}  // namespace pvlmail
