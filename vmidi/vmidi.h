/* Control interface of the virtual WinMM MIDI driver (test and demo equipment).
 *
 * The driver is built as winmm.dll and stands in for the system's: the program
 * talks to it through the ordinary midiIn and midiOut calls, and tests steer it
 * through the functions below. Device ids are in order of adding, inputs and
 * outputs counted separately, exactly as midiInOpen/midiOutOpen number them.
 * Every function is thread-safe.
 */
#ifndef BRELVANE_VMIDI_H
#define BRELVANE_VMIDI_H

#include <windows.h>
#include <mmsystem.h>

#ifdef VMIDI_BUILDING
#define VMIDI_API
#else
#define VMIDI_API __declspec(dllimport)
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* vmidi_in_sysex flag: at the end of the call, hand back the partly filled
 * head buffer (MM_MIM_LONGDATA with the bytes it holds). */
#define VMIDI_FLUSH 0x1

/* vmidi_fault count meaning "every call from now on". */
#define VMIDI_ALWAYS (-1)

typedef struct VMIDI_IN_INFO {
    DWORD cbSize;          /* set to sizeof(VMIDI_IN_INFO) */
    BOOL  open;
    BOOL  started;
    BOOL  lossy;           /* SysEx bytes without a buffer are lost (vmidi_in_set_lossy) */
    DWORD queued;          /* buffers queued by midiInAddBuffer now */
    DWORD waiting;         /* SysEx bytes held in the device, not yet in a buffer */
    DWORD streamLeft;      /* bytes of background streams not yet fed */
    int   thruOut;         /* output id connected by midiConnect, or -1 */
    ULONGLONG delivered;   /* SysEx bytes written into the program's buffers */
    ULONGLONG lost;        /* SysEx bytes dropped (lossy mode only) */
    ULONGLONG streamed;    /* bytes fed by background streams */
} VMIDI_IN_INFO;

typedef struct VMIDI_OUT_INFO {
    DWORD cbSize;          /* set to sizeof(VMIDI_OUT_INFO) */
    BOOL  open;
    BOOL  mapper;          /* opened as MIDI_MAPPER */
    DWORD playing;         /* long messages queued or playing */
    DWORD longCount;       /* long messages accepted by midiOutLongMsg */
    DWORD shortCount;      /* short messages recorded (midiOutShortMsg and thru) */
    DWORD sentBytes;       /* SysEx bytes that have left the output so far */
    DWORD rate;            /* play rate in bytes/s, 0 = at once */
    int   loopIn;          /* input that echoes this output, or -1 */
} VMIDI_OUT_INFO;

/* --- devices ------------------------------------------------------------ */

/* Back to a driver with no devices: forgets open handles (queued headers are
 * marked done without a notification), waiting data, streams, faults, logs and
 * call counters. The default play rate returns to 3125 bytes/s. */
VMIDI_API void vmidi_reset(void);
/* Add a device; the name is cut to 31 characters. Returns the new id. */
VMIDI_API int  vmidi_add_input(const char *name);
VMIDI_API int  vmidi_add_output(const char *name);
/* Add an input and an output both named "Loopback": what is played on the
 * output arrives at the input at the output's play rate, while the input is
 * open (then like any input data: it waits for midiInStart and buffers).
 * Returns the input id, and the output id through out_id when not NULL. */
VMIDI_API int  vmidi_add_loopback(int *out_id);
/* Play rate in bytes/s of one output (0 = each long message is done at once,
 * still reported by MM_MOM_DONE from the driver's thread). out_id -1 sets every
 * output and the default for outputs added later. */
VMIDI_API BOOL vmidi_set_rate(int out_id, DWORD bytes_per_sec);

/* --- feeding an input ------------------------------------------------------
 * Input data waits in the device, in order, until the input is started; then
 * short messages post MM_MIM_DATA and SysEx bytes fill the queued buffers. A
 * buffer comes back as MM_MIM_LONGDATA when it is full or takes an 0xF7. While
 * no buffer is queued SysEx bytes keep waiting (nothing is lost) unless the
 * input is lossy. Each call returns MMSYSERR_NOERROR or MMSYSERR_BADDEVICEID. */

/* Packed as in MM_MIM_DATA: status in the low byte. */
VMIDI_API MMRESULT vmidi_in_short(int in_id, DWORD msg);
/* flags: 0 or VMIDI_FLUSH. len 0 with VMIDI_FLUSH only flushes. */
VMIDI_API MMRESULT vmidi_in_sysex(int in_id, const void *data, DWORD len, DWORD flags);
/* Feed a copy of data from the driver's thread: bytes_per_sec 0 = as fast as
 * the program hands buffers back, else paced like a synth dumping. Streams on
 * one input run one after the other. */
VMIDI_API MMRESULT vmidi_in_stream(int in_id, const void *data, DWORD len, DWORD bytes_per_sec);
/* MM_MIM_ERROR with msg as lParam. */
VMIDI_API MMRESULT vmidi_in_error(int in_id, DWORD msg);
/* The head queued buffer comes back as MM_MIM_LONGERROR with what it holds. */
VMIDI_API MMRESULT vmidi_in_long_error(int in_id);
/* MM_MIM_MOREDATA when the input was opened with MIDI_IO_STATUS, otherwise
 * MM_MIM_DATA, as the platform does. */
VMIDI_API MMRESULT vmidi_in_more_data(int in_id, DWORD msg);
/* Drop everything waiting in the device and any background streams. */
VMIDI_API MMRESULT vmidi_in_discard(int in_id);
/* Lossy input: SysEx bytes that find no queued buffer (while started) are
 * dropped, and the next buffer queued comes back at once as MM_MIM_LONGERROR
 * with dwBytesRecorded 0 to tell the program. */
VMIDI_API MMRESULT vmidi_in_set_lossy(int in_id, BOOL lossy);

/* --- faults -------------------------------------------------------------
 * The next count calls of a WinMM function answer rc and do nothing else.
 * call is the function name ("midiInAddBuffer") or a short alias: in_open,
 * in_prepare, in_add_buffer, in_start, in_close, out_open, out_prepare,
 * out_long_msg, out_short_msg, out_close, connect. count VMIDI_ALWAYS = every
 * call, 0 = clear. Returns FALSE for an unknown name. */
VMIDI_API BOOL vmidi_fault(const char *call, int count, MMRESULT rc);

/* --- reading back -------------------------------------------------------- */

VMIDI_API BOOL  vmidi_in_info(int in_id, VMIDI_IN_INFO *info);
VMIDI_API BOOL  vmidi_out_info(int out_id, VMIDI_OUT_INFO *info);
/* SysEx bytes sent on an output so far, concatenated; copies up to cap bytes
 * and returns the total. */
VMIDI_API DWORD vmidi_out_sent(int out_id, void *buf, DWORD cap);
/* Short messages sent on an output; copies up to cap and returns the total. */
VMIDI_API DWORD vmidi_out_shorts(int out_id, DWORD *buf, DWORD cap);
/* How many times a WinMM function was called (name or alias as above; the
 * lazily loaded mmioOpenA/W and PlaySoundA/W are counted too). */
VMIDI_API DWORD vmidi_calls(const char *call);
/* How many of those calls answered rc. */
VMIDI_API DWORD vmidi_answers(const char *call, MMRESULT rc);
/* Wait until an output has nothing playing (out_id -1: every output). */
VMIDI_API BOOL  vmidi_wait_out(int out_id, DWORD timeout_ms);
/* Wait until the background streams of an input are fed completely
 * (in_id -1: every input). */
VMIDI_API BOOL  vmidi_wait_in(int in_id, DWORD timeout_ms);

/* --- external drive (see README.md) ---------------------------------------- */

/* Run one command line. On failure returns FALSE and a reason in err. */
VMIDI_API BOOL vmidi_command(const char *line, char *err, DWORD errcap);
/* Poll a folder for command files and write the output logs and status file
 * there (what VMIDI_CONTROL does at load). NULL stops polling. */
VMIDI_API BOOL vmidi_control_folder(const char *path);

#ifdef __cplusplus
}
#endif

#endif
