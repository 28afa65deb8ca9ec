// "orvalin.ai/auth_session": opens an approved sign-in URL in the default
// browser and answers the call with the next return URL.
#ifndef SERVICES_AUTH_SESSION_SERVICE_H_
#define SERVICES_AUTH_SESSION_SERVICE_H_

#include <string>

#include "services/service_helpers.h"

namespace orvalin {

// The hosted auth service's endpoint base, fixed at build time (lowercase,
// "https://", host, "/auth/v1/").
extern const char kApprovedAuthUrlPrefix[];

inline constexpr char kInvalidAuthSessionArgs[] = "invalid_auth_session_args";
inline constexpr ServiceError kAuthMissingArguments = {kInvalidAuthSessionArgs,
                                                       "missing arguments"};
inline constexpr ServiceError kAuthUrlRequired = {kInvalidAuthSessionArgs,
                                                  "url required"};
inline constexpr ServiceError kUnapprovedAuthUrl = {
    "invalid_auth_session_url", "unapproved authentication URL"};
inline constexpr ServiceError kAuthSessionStartFailed = {
    "auth_session_start_failed", "기본 브라우저를 열지 못했습니다."};
// Answers a waiting sign-in that a newer one displaced.
inline constexpr ServiceError kAuthSessionSuperseded = {
    "auth_session_superseded",
    "새 로그인 요청으로 이전 요청이 취소되었습니다."};

void RegisterAuthSessionChannel(flutter::BinaryMessenger* messenger);
void HandleAuthSessionCall(const Call& call, Result result);

// True when |url| begins with kApprovedAuthUrlPrefix, ASCII letters compared
// without regard to case.
bool IsApprovedAuthUrl(const std::string& url);
// True when |url| holds a byte that could end the browser's command-line
// argument early: a control byte or space, DEL, or a double quote.
bool HasUnsafeUrlByte(const std::string& url);

// The session callback a waiting sign-in registers with the relay.
void OnSessionCallbackUrl(void* context, const std::wstring& url);

}  // namespace orvalin

#endif  // SERVICES_AUTH_SESSION_SERVICE_H_
