/*
 * orv5w32.h - public interface of the Orv5w32 transfer library.
 *
 * One call of ExecOrv5 is one session: it opens the COM port named in the
 * command text, optionally runs an adapter plug-in, shows a progress window
 * and moves exactly one file to or from a ZDX terminal.  It returns one of
 * the result codes below (0 = success).
 */
#ifndef ORV5W32_H
#define ORV5W32_H

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#  include <windows.h>
#  define ORV5_CALL WINAPI
#  if defined(ORV5_BUILDING_LIBRARY)
#    define ORV5_API
#  else
#    define ORV5_API __declspec(dllimport)
#  endif
typedef HWND orv5_window;
#else
#  define ORV5_CALL
#  if defined(ORV5_BUILDING_LIBRARY)
#    define ORV5_API __attribute__((visibility("default")))
#  else
#    define ORV5_API
#  endif
/* On POSIX there is no owner window; pass a null pointer. */
typedef void *orv5_window;
#endif

/* Result codes of ExecOrv5 (and of AbortOrv5: 0, 60 or 61), with the
 * one-line message of each.  The enum and the message table below are both
 * generated from this one list, so they cannot drift apart. */
#define ORV5_RESULT_LIST(X) \
  X(ORV5_OK, 0, "session completed") \
  X(ORV5_E_SEND_FILE, 1, "the file to send cannot be opened (or no file name was given)") \
  X(ORV5_E_FILE_NAME, 2, \
    "the file name is not a valid 8.3 name, a second file name was given, or the file types " \
    "differ") \
  X(ORV5_E_TOO_MANY_RECORDS, 3, \
    "the file to send has more than 32767 records, or its records cannot be counted") \
  X(ORV5_E_FIELD_WIDTH, 4, "a field width is 0 or larger than 254") \
  X(ORV5_E_TOO_MANY_FIELDS, 5, "more than 16 field widths") \
  X(ORV5_E_RECORD_TOO_LONG, 6, \
    "record too long: the field widths plus the number of fields exceed 255") \
  X(ORV5_E_WIDTHS_FOR_PROG, 7, "field widths were given for a program file") \
  X(ORV5_E_FIELD_FILE, 8, \
    "the field-definition file is missing or invalid, or a .FLD file was given to send") \
  X(ORV5_E_COMMAND, 9, \
    "bad command text or option value, or the serial port settings were refused") \
  X(ORV5_E_RX_TIMEOUT, 51, "receiving: the terminal did not answer in time") \
  X(ORV5_E_TX_TIMEOUT, 52, "sending: the terminal did not answer in time") \
  X(ORV5_E_RX_NAK_LIMIT, 53, "receiving: ten bad frames in a row") \
  X(ORV5_E_TX_NAK_LIMIT, 54, "sending: the terminal refused the same frame ten times") \
  X(ORV5_E_TERMINAL_EOT, 55, "the terminal ended the transfer") \
  X(ORV5_E_BUSY_SENDING, 60, "a sending session is already running") \
  X(ORV5_E_BUSY_RECEIVING, 61, "a receiving session is already running") \
  X(ORV5_E_BAD_HEADER, 70, "receiving: the terminal's header is invalid") \
  X(ORV5_E_FILE_IO, 71, "a file cannot be created, opened, read or written") \
  X(ORV5_E_DISK_FULL, 72, "receiving: not enough free disk space") \
  X(ORV5_E_TIMER, 74, "the session timer could not be created") \
  X(ORV5_E_PORT_OPEN, 75, "the serial port cannot be opened") \
  X(ORV5_E_FIXED_RECORD, 76, "fixed-length records: a record is not followed by CR LF") \
  X(ORV5_E_NAME_MISMATCH, 77, \
    "receiving: the terminal's file name differs from the requested one") \
  X(ORV5_E_ADAPTER_FAILED, 80, "the adapter plug-in failed to set up the adapter") \
  X(ORV5_E_ADAPTER_LOAD, 81, "the adapter plug-in cannot be loaded or has no InitIrDevice") \
  X(ORV5_E_ADAPTER_SPEED, 82, "the adapter does not support this port speed") \
  X(ORV5_E_ABORTED, 90, "aborted") \
  X(ORV5_E_INTERNAL, 99, "the progress window cannot be created, or an option character is invalid")

#define ORV5_RESULT_ENUM_(name, value, text) name = value,
typedef enum orv5_result { ORV5_RESULT_LIST(ORV5_RESULT_ENUM_) } Orv5Result;
#undef ORV5_RESULT_ENUM_

struct orv5_result_text {
    int code;
    const char *text;
};

#define ORV5_RESULT_ROW_(name, value, text) {value, text},
static const struct orv5_result_text orv5_result_texts[] = {ORV5_RESULT_LIST(ORV5_RESULT_ROW_)};
#undef ORV5_RESULT_ROW_

/* Number of result codes; the message table has exactly one row each. */
#define ORV5_RESULT_COUNT_(name, value, text) +1
enum { ORV5_RESULT_COUNT = 0 ORV5_RESULT_LIST(ORV5_RESULT_COUNT_) };
#undef ORV5_RESULT_COUNT_

/* One-line plain-words message for a result code; never null.  Inline so
 * that hosts get it from this header alone (the DLL exports only the
 * functions below). */
static inline const char *orv5_result_message(int code)
{
    unsigned i;
    for (i = 0; i < sizeof orv5_result_texts / sizeof orv5_result_texts[0]; ++i)
        if (orv5_result_texts[i].code == code)
            return orv5_result_texts[i].text;
    return "unknown result code";
}

/* Size of the name buffer ExecOrv5 writes: an 8.3 name, 8 + 1 + 3
 * characters, and its NUL. */
#define ORV5_NAME_BUF_SIZE 13

/* Runs one session.  text: the command text (options and one file name).
 * name_buf: at least ORV5_NAME_BUF_SIZE bytes; receives the transferred file's 8.3 name
 * (may be null).  Blocks until the session ends. */
ORV5_API int ORV5_CALL ExecOrv5(orv5_window owner, const char *text, char *name_buf);

/* Asks the running session to stop (it then returns 90).  Returns 0 when
 * no session runs, 60 during a sending and 61 during a receiving session.
 * Safe to call from any thread and from a signal handler. */
ORV5_API int ORV5_CALL AbortOrv5(void);

/* Copies the version text "1.01S" (6 bytes with NUL) into buf; returns buf. */
ORV5_API char *ORV5_CALL GetOrv5DllVersion(char *buf);

/* The operating system's own words for the failure behind the last
 * session's 75, 9 or 71 (for example "COM3: Access is denied." or
 * "DATA.TXT: No space left on device"), or behind a 51 or 52 that came
 * from a port gone during the session ("COM3: the device hung up"), copied
 * NUL-terminated into buf of
 * size bytes (cut to fit).  "" when the last session kept none.  Returns
 * the length of the full text.  An addition to the three classic exports,
 * for diagnostics. */
ORV5_API int ORV5_CALL GetOrv5LastReason(char *buf, int size);

#ifdef __cplusplus
}
#endif

#endif /* ORV5W32_H */
