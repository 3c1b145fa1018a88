/*
 * The binary contract between the Vekta host and a post-process plug-in module.
 *
 * A module exports exactly one function, PostProcessEntry. The host calls it once after loading the
 * module; it fills a description record and a table of callbacks, and every later exchange goes
 * through those callbacks. All structures here are byte-exact: the host and the module may be built
 * by different compilers, so sizes and offsets are fixed and checked below. Fields marked
 * "unaligned" must be read and written with memcpy-style access.
 *
 * This header is plain C so that a host written in C can include it.
 */
#ifndef VEKTA_HOST_POSTPROCESS_SDK_H
#define VEKTA_HOST_POSTPROCESS_SDK_H

#include <stddef.h>
#include <stdint.h>

#if defined(__cplusplus)
#define VEKTA_EXTERN_C extern "C"
#else
#define VEKTA_EXTERN_C
#endif

#if defined(_WIN32)
#define VEKTA_PLUGIN_EXPORT VEKTA_EXTERN_C __declspec(dllexport)
#else
#define VEKTA_PLUGIN_EXPORT VEKTA_EXTERN_C __attribute__((visibility("default")))
#endif

#if defined(__cplusplus)
#define VEKTA_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define VEKTA_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

/* UTF-16 code unit. char16_t in C++; a 16-bit integer in C. */
#if defined(__cplusplus)
typedef char16_t VektaUTF16Char;
#else
typedef uint16_t VektaUTF16Char;
#endif

/* Four-character codes are 32-bit integers whose most significant byte is the first character:
 * VEKTA_FOURCC('Q','V','R','X') == 0x51565258, stored little-endian as the bytes X, R, V, Q. */
#define VEKTA_FOURCC(a, b, c, d)                                                                                  \
    ((uint32_t)(((uint32_t)(uint8_t)(a) << 24) | ((uint32_t)(uint8_t)(b) << 16) | ((uint32_t)(uint8_t)(c) << 8) | \
                (uint32_t)(uint8_t)(d)))

#pragma pack(push, 1)

/* The result of every suite operation that succeeded; failures are negative. */
enum { kSuiteSuccess = 0 };

/* The host's basic suite: the door to every other suite. */
typedef struct BasicSuite {
    /* [any-thread] Acquires the suite `name` (NUL-terminated ASCII) at `version`. On success writes
     * the suite's function table to *suite and returns kSuiteSuccess; an unknown name or version returns a
     * negative value and writes null. Suite tables are owned by the host and live as long as it. */
    int32_t (*AcquireSuite)(const char* name, int32_t version, const void** suite);
    /* [any-thread] Gives back a suite acquired before. Optional for the caller. */
    int32_t (*ReleaseSuite)(const char* name, int32_t version);
} BasicSuite;

/* [any-thread] Returns the host's basic suite; never null while the host lives. */
typedef const BasicSuite* (*BasicSuiteAccessor)(void);

enum { kHostGroupIDSize = 260 };

/* The host's record for one plug-in instance, 284 bytes, passed by pointer as the first argument of
 * every callback. The host owns it; it lives from CreateInstance until after DestroyInstance. */
typedef struct HostInstanceRecord {
    uint8_t hostReserved0[4];
    /* Post-process instance identifier: the first argument of every export-parameter operation. */
    uint32_t instanceID;
    /* NUL-terminated ASCII identifier of the host group under which the plug-in adds its own. */
    char parentGroupID[kHostGroupIDSize];
    /* Unaligned. Private to the plug-in: it keeps the weak key of its instance here. */
    uint64_t pluginPrivate;
    /* Unaligned. Returns the host's basic suite. */
    BasicSuiteAccessor getBasicSuite;
} HostInstanceRecord;

VEKTA_STATIC_ASSERT(sizeof(HostInstanceRecord) == 284, "HostInstanceRecord is 284 bytes");
VEKTA_STATIC_ASSERT(offsetof(HostInstanceRecord, instanceID) == 4, "instance id at 4");
VEKTA_STATIC_ASSERT(offsetof(HostInstanceRecord, parentGroupID) == 8, "group id at 8");
VEKTA_STATIC_ASSERT(offsetof(HostInstanceRecord, pluginPrivate) == 268, "private slot at 268");
VEKTA_STATIC_ASSERT(offsetof(HostInstanceRecord, getBasicSuite) == 276, "suite accessor at 276");

/* The exported video's description, 52 bytes. Bytes not named here are carried along unread. */
typedef struct ExportVideoInfo {
    uint8_t hostReserved0[4];
    uint32_t fileType; /* four-character code: 'H264', 'HEVC', 'MPEG', 'MooV', ... */
    uint8_t hostReserved8[10];
    uint32_t frameWidth;  /* pixels */
    uint32_t frameHeight; /* pixels */
    uint8_t hostReserved26[8];
    float frameRate; /* frames per second */
    uint8_t hostReserved38[2];
    uint64_t durationMs; /* milliseconds */
    uint8_t hostReserved48[4];
} ExportVideoInfo;

VEKTA_STATIC_ASSERT(sizeof(ExportVideoInfo) == 52, "ExportVideoInfo is 52 bytes");
VEKTA_STATIC_ASSERT(offsetof(ExportVideoInfo, fileType) == 4, "file type at 4");
VEKTA_STATIC_ASSERT(offsetof(ExportVideoInfo, frameWidth) == 18, "width at 18");
VEKTA_STATIC_ASSERT(offsetof(ExportVideoInfo, frameHeight) == 22, "height at 22");
VEKTA_STATIC_ASSERT(offsetof(ExportVideoInfo, frameRate) == 34, "frame rate at 34");
VEKTA_STATIC_ASSERT(offsetof(ExportVideoInfo, durationMs) == 40, "duration at 40");

/* One exported file, 12 bytes, packed. */
typedef struct OutputFileEntry {
    uint32_t hostValue;         /* not read by the plug-in */
    const VektaUTF16Char* path; /* unaligned; NUL-terminated UTF-16 full path, owned by the host */
} OutputFileEntry;

VEKTA_STATIC_ASSERT(sizeof(OutputFileEntry) == 12, "OutputFileEntry is 12 bytes");
VEKTA_STATIC_ASSERT(offsetof(OutputFileEntry, path) == 4, "path at 4");

#pragma pack(pop)

/* The description's version the plug-in writes and the host expects; the display name's room and
 * the most units the plug-in copies into it. */
enum {
    kPostProcessDescriptionVersion = 1,
    kPostProcessDisplayNameUnits = 256,
    kPostProcessDisplayNameMaxCopied = kPostProcessDisplayNameUnits - 1
};

/* Written by the plug-in into memory the host provides. */
typedef struct PostProcessDescription {
    uint32_t version;    /* kPostProcessDescriptionVersion */
    uint32_t identifier; /* four-character code of the plug-in */
    /* UTF-16 display name. The plug-in copies at most 255 units and writes no terminator, so a host
     * that wants one zero-fills the record before the call. */
    VektaUTF16Char displayName[kPostProcessDisplayNameUnits];
} PostProcessDescription;

VEKTA_STATIC_ASSERT(offsetof(PostProcessDescription, identifier) == 4, "identifier at 4");
VEKTA_STATIC_ASSERT(offsetof(PostProcessDescription, displayName) == 8, "name at 8");

/* Upload states reported to the host. */
enum {
    kUploadStateArmed = 0,
    kUploadStateIdle = 1,
    kUploadStateUploading = 2,
    kUploadStateSucceeded = 4,
    kUploadStateAborted = 5,
    kUploadStateFailed = 6,
    kUploadStateNotice = 7,
    kUploadStateSucceededWithNotice = 8
};

/* Result codes sent with every status notification. */
enum {
    kResultNone = 0,
    kResultAborted = 2,
    kResultFrameRate = 4,
    kResultFormat = 8,
    kResultFileMissing = 9,
    kResultDuration = 11,
    kResultFrameSize = 12,
    kResultFileSize = 13,
    kResultUploadFailed = 19,
    kResultNoResponse = 20,
    kResultSourceNotOpened = 21
};

/* [any-thread] Host callback: one call per change of an upload's state, progress or message.
 * `record` is the plug-in's copy of the instance record; `text` holds `textLength` UTF-16 units (not
 * NUL-terminated) and, like `resultCode`, is valid only during the call. Called from the thread that
 * drives the upload or from the network threads. */
typedef void (*PostProcessStatusCallback)(const HostInstanceRecord* record, uint32_t uploadState, float progress,
                                          const VektaUTF16Char* text, uint16_t textLength, const uint32_t* resultCode);

/* What an account notification carries. */
enum { kAccountStatusChanged = 0, kAccountStatusMessage = 1 };

/* [any-thread] Host callback: the account changed (kAccountStatusChanged, text null) or has a message
 * (kAccountStatusMessage).
 * `signedIn` is 1 when the plug-in holds credentials. Pointers are valid only during the call. */
typedef void (*AccountStatusCallback)(const HostInstanceRecord* record, uint8_t signedIn, uint8_t kind,
                                      const VektaUTF16Char* text);

/* Callback results: kCallbackDone handled (or nothing to do), kCallbackFailed failure (no instance
 * behind the record, or the export-parameter suite is unavailable). QueryStatus returns the upload
 * state instead, and kCallbackFailed when there is no instance. The record pointer is the host's and
 * stays valid for the call only; no callback keeps it. */
enum { kCallbackDone = 0, kCallbackFailed = 1 };

/* SendCommand's commands; any other value is ignored. */
enum { kSendCommandAbort = 1, kSendCommandArm = 3, kSendCommandIdle = 4 };

/* Execute's selectors; any other value is nothing to do. */
enum { kExecuteSelectorPublish = 5 };

/* [main-thread] Makes the instance for `record` and keeps its key in record->pluginPrivate. Both
 * callbacks may be null. Returns kCallbackDone. */
typedef int32_t (*PostProcessCreateInstance)(HostInstanceRecord* record, PostProcessStatusCallback status,
                                             AccountStatusCallback account);
/* [main-thread] Stops a running upload (bounded wait) and releases the instance. Returns kCallbackDone always. */
typedef int32_t (*PostProcessDestroyInstance)(HostInstanceRecord* record);
/* [main-thread] Adds the plug-in's parameter group. Done, or failed: no export-parameter suite. */
typedef int32_t (*PostProcessAddParameters)(HostInstanceRecord* record);
/* [any-thread] Writes 1 to *hasCredentials when signed in, else 0 (0 first, on every path).
 * Done, or failed: no instance. */
typedef int32_t (*PostProcessQueryHasCredentials)(HostInstanceRecord* record, uint8_t* hasCredentials);
/* [main-thread] Brings the parameters in step with the instance and account. May block on the
 * network. Done or failed. */
typedef int32_t (*PostProcessRefreshParameters)(HostInstanceRecord* record);
/* [main-thread] The parameter `parameterID` (NUL-terminated ASCII) changed or its button was
 * pressed. A sign-in runs a modal prompt inside this call. Done or failed. */
typedef int32_t (*PostProcessParameterChanged)(HostInstanceRecord* record, const char* parameterID);
/* [any-thread] The exported files, `count` entries; the plug-in copies the paths during the call.
 * The two host values are not read. Done, or failed: no instance. */
typedef int32_t (*PostProcessReceiveOutputFiles)(HostInstanceRecord* record, uint64_t hostValue1, uint64_t hostValue2,
                                                 uint32_t count, const OutputFileEntry* entries);
/* [any-thread, blocking] Runs the post-process `selector`; kExecuteSelectorPublish publishes,
 * synchronously, until the upload has ended. Done: published or nothing to do; else failed. */
typedef int32_t (*PostProcessExecute)(HostInstanceRecord* record, int32_t selector);
/* [any-thread] Does nothing. Returns kCallbackDone. */
typedef int32_t (*PostProcessNoOperation)(HostInstanceRecord* record);
/* [any-thread] Tells the plug-in the export's file type (only `fileType` is read).
 * Done, or failed: no instance. */
typedef int32_t (*PostProcessCheckOutputFormat)(HostInstanceRecord* record, const ExportVideoInfo* format);
/* [any-thread] kSendCommandAbort aborts the upload, kSendCommandArm arms, kSendCommandIdle makes it
 * idle; others are ignored. Done, or failed: no instance. */
typedef int32_t (*PostProcessSendCommand)(HostInstanceRecord* record, uint32_t command);
/* [any-thread] The instance's upload state; kCallbackFailed when there is no instance. */
typedef int32_t (*PostProcessQueryStatus)(HostInstanceRecord* record);
/* [any-thread] The exported video's description, copied during the call. Done (also when
 * not applicable) or failed. */
typedef int32_t (*PostProcessReceiveVideoInfo)(HostInstanceRecord* record, const ExportVideoInfo* info);

/* The table's slots: the plug-in writes every one but kPostProcessHostSlot, which is the host's and
 * is left exactly as the host provided it. */
enum { kPostProcessCallbackSlotCount = 14, kPostProcessHostSlot = 12 };

/* A host-provided table of pointer-sized slots. */
typedef struct PostProcessCallbacks {
    PostProcessCreateInstance createInstance;           /* 0 */
    PostProcessDestroyInstance destroyInstance;         /* 1 */
    PostProcessAddParameters addParameters;             /* 2 */
    PostProcessQueryHasCredentials queryHasCredentials; /* 3 */
    PostProcessRefreshParameters refreshParameters;     /* 4 */
    PostProcessParameterChanged parameterChanged;       /* 5 */
    PostProcessReceiveOutputFiles receiveOutputFiles;   /* 6 */
    PostProcessExecute execute;                         /* 7 */
    PostProcessNoOperation noOperation;                 /* 8 */
    PostProcessCheckOutputFormat checkOutputFormat;     /* 9 */
    PostProcessSendCommand sendCommand;                 /* 10 */
    PostProcessQueryStatus queryStatus;                 /* 11 */
    void* hostSlot12;                                   /* 12: the host's */
    PostProcessReceiveVideoInfo receiveVideoInfo;       /* 13 */
} PostProcessCallbacks;

VEKTA_STATIC_ASSERT(sizeof(PostProcessCallbacks) == kPostProcessCallbackSlotCount * sizeof(void*),
                    "14 pointer-sized slots");
VEKTA_STATIC_ASSERT(offsetof(PostProcessCallbacks, hostSlot12) == kPostProcessHostSlot * sizeof(void*), "slot 12");
VEKTA_STATIC_ASSERT(offsetof(PostProcessCallbacks, receiveVideoInfo) == 13 * sizeof(void*), "slot 13");

/* [main-thread] The module's one exported function, looked up by this name. The three host values
 * are not read. Fills *description and the callback table; may be called again and writes the same
 * values. Returns kCallbackDone. */
typedef int32_t (*PostProcessEntryFunction)(uint64_t hostValue1, uint64_t hostValue2, uint64_t hostValue3,
                                            PostProcessDescription* description, PostProcessCallbacks* callbacks);
#define VEKTA_POSTPROCESS_ENTRY_NAME "PostProcessEntry"

#endif /* VEKTA_HOST_POSTPROCESS_SDK_H */
