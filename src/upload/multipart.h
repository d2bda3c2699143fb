// The upload request: the multipart form of one spool file, POSTed with a bearer token.
#pragma once
#include <string>
#include <vector>

#include "server/http.h"
#include "server/token.h"

namespace riz {

struct FormPart {
  std::string name;
  std::string value;  // sent unchanged
  bool isFile = false;
  std::string filename;  // UTF-8; used only when isFile
};

struct MultipartBody {
  std::string body;
  std::string contentType;  // "multipart/form-data; boundary=<boundary>"
};

// "----norvessa" and 16 lowercase hex digits of (timeMs * 2654435761) ^ processId.
std::string multipartBoundary(uint64_t timeMs, uint32_t processId);

// The body of parts framed with boundary, byte for byte, and its content type.
MultipartBody buildMultipartBody(const std::vector<FormPart>& parts, const std::string& boundary);

// The body with a boundary from the current time and process id.
MultipartBody buildMultipartBody(const std::vector<FormPart>& parts);

// POSTs the form to url with a token; repeats once with a fresh token after 401.
// No token: status 0, win32Error 5, nothing sent.
HttpResponse uploadFile(TokenClient& client, const std::wstring& url,
                        const std::vector<FormPart>& parts);

}  // namespace riz
