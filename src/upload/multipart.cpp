#include "upload/multipart.h"

#include <windows.h>

#include <cstdio>

namespace riz {
namespace {

constexpr uint64_t kBoundaryMultiplier = 2654435761ull;  // 0x9E3779B1: spreads the time bits
constexpr char kCrLf[] = "\r\n";

uint64_t systemTimeMs() {
  FILETIME ft{};
  GetSystemTimeAsFileTime(&ft);
  uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return (ticks - 116444736000000000ull) / 10000;
}

}  // namespace

std::string multipartBoundary(uint64_t timeMs, uint32_t processId) {
  char text[32];
  std::snprintf(text, sizeof text, "----norvessa%016llx",
                static_cast<unsigned long long>((timeMs * kBoundaryMultiplier) ^ processId));
  return text;
}

MultipartBody buildMultipartBody(const std::vector<FormPart>& parts, const std::string& boundary) {
  // Size the buffer once: the file part can be 64 MiB and must not be copied while growing.
  size_t total = 2 + boundary.size() + 4;
  for (const FormPart& part : parts) {
    total += 2 + boundary.size() + 80 + part.name.size() + part.value.size();
    if (part.isFile) total += 64 + part.filename.size();
  }
  MultipartBody out;
  std::string& b = out.body;
  b.reserve(total);
  for (const FormPart& part : parts) {
    b += "--";
    b += boundary;
    b += "\r\nContent-Disposition: form-data; name=\"";
    b += part.name;
    b += '"';
    if (part.isFile) {
      b += "; filename=\"";
      b += part.filename;
      b += "\"\r\nContent-Type: application/octet-stream";
    }
    b += "\r\n\r\n";
    b += part.value;
    b += kCrLf;
  }
  b += "--";
  b += boundary;
  b += "--\r\n";
  out.contentType = "multipart/form-data; boundary=" + boundary;
  return out;
}

MultipartBody buildMultipartBody(const std::vector<FormPart>& parts) {
  return buildMultipartBody(parts, multipartBoundary(systemTimeMs(), GetCurrentProcessId()));
}

HttpResponse uploadFile(TokenClient& client, const std::wstring& url,
                        const std::vector<FormPart>& parts) {
  // One body for both attempts: a retry after 401 sends the same bytes and boundary.
  const MultipartBody form = buildMultipartBody(parts);
  std::string token = getAccessToken(client, false);
  if (token.empty()) {
    HttpResponse none;
    none.win32Error = ERROR_ACCESS_DENIED;
    return none;
  }
  HttpResponse answer = httpPost(url, form.contentType, form.body, token);
  if (answer.status == 401) {
    token = getAccessToken(client, true);
    if (!token.empty()) answer = httpPost(url, form.contentType, form.body, token);
  }
  return answer;
}

}  // namespace riz
