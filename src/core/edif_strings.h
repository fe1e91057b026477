// Character classes, trimming and keyword tests of the host-side link-security
// configuration ("auth-els.conf"); the alias writer of the preference file
// uses the same trimming.
#pragma once

#include <cstddef>

// Character classes: "!" "#" comments; "=", blank, "(", ")", "[", "]", "{",
// "}", "'" and ";" delimiters; "!" "%" "*" "+" "-" "/" "<" ">" "^" operators.
int CoreIsCommentChar(char c);
int CoreIsLeftBraceChar(char c);
int CoreIsRightBraceChar(char c);
int CoreIsDelimiterChar(char c);
int CoreIsOperatorChar(char c);
int CoreIsAssignmentChar(char c);

// 1 when the text is empty or only white space (also for null).
int CoreIsEmptyStr(const char* text);
// Remove leading, trailing or both blanks and tabs in place; the text.
char* CoreLTrim(char* text);
char* CoreRTrim(char* text);
char* CoreTrim(char* text);
// 1 when every character is a decimal (hexadecimal) digit or white space, also
// for the empty text; 0 for null.
int CoreIsIntegerStr(const char* text);
int CoreIsHexaDecimalStr(const char* text);
// A new text (CoreMalloc; the caller releases it with CoreFree) of the
// characters from `left` to `right` inclusive; null when the range lies
// outside the text or memory is exhausted.
char* CoreGetSubString(const char* text, size_t left, size_t right);
// The decimal number between the first "_" and the next "_" or the end; -1
// when there is none.
int CoreGetRemoteNameID(const char* text);
// The text after the last "=" (inside `text`); null when there is no "=".
const char* CoreGetRemotePortWWN(const char* text);

// Keyword tests of the configuration's sections and members, one per keyword
// class. Words compare without regard to case; the set headers ("remote_",
// "rekey_", "shared_secret_") are found anywhere in the word and must be
// followed by a set number.
int CoreIsAuthElsGroupStr(const char* word);                    // "auth-els"
int CoreIsAuthElsGroupMemberLoadStr(const char* word);          // "load"
int CoreIsDisabledRemotesGroupStr(const char* word);            // "disabled_remotes"
int CoreIsRekeyConfigGroupStr(const char* word);                // "rekey_config"
int CoreIsRemoteGroupStr(const char* word);                     // "remote_<n>"
int CoreIsRekeyGroupStr(const char* word);                      // "rekey_<n>"
int CoreIsRemoteGroupMemberStr(const char* word);               // "wwpn", "wwpn_separator"
int CoreIsRekeyGroupMemberStr(const char* word);                // "reauth_time" ... "override_lower_limits"
int CoreIsSharedSecretConfigGroupStr(const char* word);         // "shared_secret_config"
int CoreIsSharedSecretGroupStr(const char* word);               // "shared_secret_<n>"
int CoreIsSharedSecretGroupMemberStr(const char* word);         // "shared_secret"
int CoreIsAlgorithmConfigGroupStr(const char* word);            // "algorithm_config"
int CoreIsAlgorithmConfigGroupMemberEspStr(const char* word);   // "esp_proposal"
int CoreIsAlgorithmConfigGroupMemberIkeStr(const char* word);   // "ike_proposal"
