/*
 * The host's export-parameter suite: the export settings that a plug-in adds to and reads from.
 *
 * Acquired through the basic suite as kExportParamSuiteName, version kExportParamSuiteVersion. Every
 * operation takes first the post-process instance identifier (HostInstanceRecord.instanceID) and a
 * group index, always kParamGroupIndex. Identifiers are NUL-terminated ASCII, at most 255 characters; texts are
 * NUL-terminated UTF-16. Pointers passed in are read during the call only; the suite keeps copies.
 * Results: kSuiteSuccess, or negative failure (unknown instance, parameter or group, bad argument).
 * [main-thread] for the settings callbacks; the suite itself may be called from any thread.
 */
#ifndef VEKTA_HOST_EXPORT_PARAM_SUITE_H
#define VEKTA_HOST_EXPORT_PARAM_SUITE_H

#include "PostProcessSDK.h"

#define kExportParamSuiteName "Tessel Export Param Suite"
#define kExportParamSuiteVersion 7

/* Parameter type codes. */
enum {
    kParamTypeCheckbox = 1,
    kParamTypeInteger = 2, /* also popups: the value is the chosen entry's value */
    kParamTypeFloat = 3,
    kParamTypeTime = 4,
    kParamTypeHiddenInt64 = 5,
    kParamTypeText = 6,
    kParamTypeButton = 7,
    kParamTypeByteArray = 8
};

enum { kParamIdentifierSize = 256, kParamInlineTextUnits = 256 };

/* The structure version of ParamValue and ParamInfo; the only group index. */
enum { kParamStructVersion = 1, kParamGroupIndex = 0 };

/* One value; which member holds depends on the parameter's type. */
typedef union ParamValueUnion {
    int32_t intValue;  /* checkbox (0/1), integer, popup */
    double floatValue; /* float */
    int64_t timeValue; /* time, hidden 64-bit integer */
} ParamValueUnion;

/* A parameter's value record. Zero it before GetValue; edit it and pass it to ChangeValue. */
typedef struct ParamValue {
    int32_t structVersion; /* kParamStructVersion */
    int32_t reserved;
    ParamValueUnion minimum;
    ParamValueUnion maximum;
    ParamValueUnion value;
    /* Text parameters: the text, NUL-terminated when it fits. A longer text is cut here and its
     * whole UTF-16 form (with one NUL) is readable through GetArrayValue; arraySize then says so. */
    VektaUTF16Char textValue[kParamInlineTextUnits];
    int32_t disabled;
    int32_t hidden;
    int32_t arraySize; /* bytes held as an array; 0 when none */
    int32_t reserved2;
} ParamValue;

/* A parameter's description for AddParameter. */
typedef struct ParamInfo {
    int32_t structVersion;                 /* kParamStructVersion */
    char identifier[kParamIdentifierSize]; /* NUL-terminated ASCII */
    int32_t type;                          /* kParamType... */
    int32_t flags;                         /* host flags, passed through */
    ParamValue value;                      /* minimum, maximum, default (value), disabled, hidden */
} ParamInfo;

VEKTA_STATIC_ASSERT(sizeof(ParamValueUnion) == 8, "value union is 8 bytes");
VEKTA_STATIC_ASSERT(offsetof(ParamValue, textValue) == 32, "inline text at 32");
VEKTA_STATIC_ASSERT(sizeof(ParamValue) == 32 + 2 * kParamInlineTextUnits + 16, "value record size");
VEKTA_STATIC_ASSERT(offsetof(ParamInfo, identifier) == 4, "identifier at 4");
VEKTA_STATIC_ASSERT(offsetof(ParamInfo, value) == 272, "value record at 272");

typedef struct LuSDKExportParamSuite {
    void* reserved0; /* 0 */
    void* reserved1; /* 1 */
    void* reserved2; /* 2 */
    /* Adds a parameter under `parentGroupID`; its id must be new for the instance. */
    int32_t (*AddParameter)(uint32_t instanceID, int32_t groupIndex, const char* parentGroupID,
                            const ParamInfo* info); /* 3 */
    /* Adds group `groupID` under `parentGroupID` (a group of the host or of the plug-in). */
    int32_t (*AddGroup)(uint32_t instanceID, int32_t groupIndex, const char* parentGroupID, const char* groupID,
                        const VektaUTF16Char* title, int32_t flags1, int32_t flags2, int32_t flags3); /* 4 */
    /* Sets value, range, text, disabled and hidden from the record. For a group, only the disabled
     * and hidden flags are taken. A text parameter's record that still carries the cut inline text
     * and the arraySize of a GetValue (a read-modify-write that changed only a flag) keeps the
     * whole stored text on a careful host, but a host may store the inline text as given: a caller
     * that must keep a long text stores it again with SetArrayValue. Otherwise the inline text
     * replaces the stored one. */
    int32_t (*ChangeValue)(uint32_t instanceID, int32_t groupIndex, const char* parameterID,
                           const ParamValue* value); /* 5 */
    /* Fills the record. Groups answer with their disabled and hidden flags. */
    int32_t (*GetValue)(uint32_t instanceID, int32_t groupIndex, const char* parameterID, ParamValue* value); /* 6 */
    void* reserved7;                                                                                          /* 7 */
    void* reserved8;                                                                                          /* 8 */
    /* Label of a parameter or title of a group (also a button's caption). */
    int32_t (*SetName)(uint32_t instanceID, int32_t groupIndex, const char* id, const VektaUTF16Char* text); /* 9 */
    /* Appends one popup entry. */
    int32_t (*AddChoice)(uint32_t instanceID, int32_t groupIndex, const char* parameterID, ParamValueUnion value,
                         const VektaUTF16Char* label);                                         /* 10 */
    int32_t (*ClearChoices)(uint32_t instanceID, int32_t groupIndex, const char* parameterID); /* 11 */
    void* reserved12;                                                                          /* 12 */
    void* reserved13;                                                                          /* 13 */
    /* With a null buffer, writes the stored size in bytes to *size. With a buffer, copies
     * min(*size, stored size) bytes and writes the number copied to *size. */
    int32_t (*GetArrayValue)(uint32_t instanceID, int32_t groupIndex, const char* parameterID, int32_t* size,
                             void* buffer); /* 14 */
    /* Stores `size` bytes; size 0 empties the value (data may then be null). For a text parameter
     * the bytes are its UTF-16 form (an even size; the text ends at its first NUL): the way to
     * store a text longer than the inline field. */
    int32_t (*SetArrayValue)(uint32_t instanceID, int32_t groupIndex, const char* parameterID, int32_t size,
                             const void* data); /* 15 */
    void* reserved16;                           /* 16 */
    void* reserved17;                           /* 17 */
    void* reserved18;                           /* 18 */
    /* Tooltip of a parameter; empty text removes it. */
    int32_t (*SetDescription)(uint32_t instanceID, int32_t groupIndex, const char* parameterID,
                              const VektaUTF16Char* text); /* 19 */
} LuSDKExportParamSuite;

VEKTA_STATIC_ASSERT(offsetof(LuSDKExportParamSuite, AddParameter) == 3 * sizeof(void*), "AddParameter at 3");
VEKTA_STATIC_ASSERT(offsetof(LuSDKExportParamSuite, AddGroup) == 4 * sizeof(void*), "AddGroup at 4");
VEKTA_STATIC_ASSERT(offsetof(LuSDKExportParamSuite, ChangeValue) == 5 * sizeof(void*), "ChangeValue at 5");
VEKTA_STATIC_ASSERT(offsetof(LuSDKExportParamSuite, GetValue) == 6 * sizeof(void*), "GetValue at 6");
VEKTA_STATIC_ASSERT(offsetof(LuSDKExportParamSuite, SetName) == 9 * sizeof(void*), "SetName at 9");
VEKTA_STATIC_ASSERT(offsetof(LuSDKExportParamSuite, AddChoice) == 10 * sizeof(void*), "AddChoice at 10");
VEKTA_STATIC_ASSERT(offsetof(LuSDKExportParamSuite, ClearChoices) == 11 * sizeof(void*), "ClearChoices at 11");
VEKTA_STATIC_ASSERT(offsetof(LuSDKExportParamSuite, GetArrayValue) == 14 * sizeof(void*), "GetArrayValue at 14");
VEKTA_STATIC_ASSERT(offsetof(LuSDKExportParamSuite, SetArrayValue) == 15 * sizeof(void*), "SetArrayValue at 15");
VEKTA_STATIC_ASSERT(offsetof(LuSDKExportParamSuite, SetDescription) == 19 * sizeof(void*), "SetDescription at 19");

#endif /* VEKTA_HOST_EXPORT_PARAM_SUITE_H */
