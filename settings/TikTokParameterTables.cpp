#include "settings/TikTokParameterTables.h"

#include "talcore/config/Localizer.h"

// Every table of the TikTok settings lives in this one file, defined in the order in which later
// ones read earlier ones (the defaults are positions found in the option tables). They are
// constexpr, so the compiler builds them and a wrong table fails the build instead of the load.
namespace Vekta {
namespace {

consteval ParamDescriptor Param(std::string_view identifier, std::int32_t type, std::string_view parentGroupID,
                                const char* label, const char* tooltip = nullptr) {
    ParamDescriptor descriptor{};
    if (!CopyIdentifier(descriptor.identifier, identifier) || !CopyIdentifier(descriptor.parentGroupID, parentGroupID))
        throw "identifier does not fit its field";
    descriptor.type = type;
    descriptor.label = label;
    descriptor.tooltip = tooltip;
    return descriptor;
}

// Hidden parameters carry account facts and hand-over values; the user never edits them.
consteval ParamDescriptor Hidden(ParamDescriptor descriptor) {
    descriptor.disabled = 1;
    descriptor.hidden = 1;
    return descriptor;
}

consteval ParamDescriptor WithFlags(ParamDescriptor descriptor, std::int32_t flags) {
    descriptor.flags = flags;
    return descriptor;
}

consteval ParamDescriptor WithIntegers(ParamDescriptor descriptor, std::int32_t minimum, std::int32_t maximum,
                                       std::int32_t defaultValue) {
    descriptor.minimum.intValue = minimum;
    descriptor.maximum.intValue = maximum;
    descriptor.defaultValue.intValue = defaultValue;
    return descriptor;
}

}  // namespace

constexpr std::array<PublishTypeOption, 2> kPublishTypeOptions = {{
    {kPublishTypePost, "$$$/Vekta/PostProcess/TikTok/PublishOptionPost=Post"},
    {kPublishTypeDraft, "$$$/Vekta/PostProcess/TikTok/PublishOptionDraft=Draft"},
}};

constexpr std::size_t kPublishTypeDefaultIndex = [] {
    for (std::size_t i = 0; i < kPublishTypeOptions.size(); ++i)
        if (kPublishTypeOptions[i].value == kPublishTypePost) return i;
    return std::size_t{0};
}();

constexpr std::array<const char*, 7> kPublishTypeAffectedParameters = {
    kTikTokCaptionID,
    kTikTokPrivacyID,
    kTikTokCoverImageThumbnailTimeID,
    kTikTokCoverImageThumbnailTimeBtnID,
    kTikTokCommentPermissionID,
    kTikTokDuetPermissionID,
    kTikTokStitchPermissionID,
};

constexpr std::array<PrivacyOption, 5> kPrivacyOptions = {{
    {0, "$$$/Vekta/PostProcess/TikTok/PrivacyOptionEveryone=Everyone", u"PUBLIC_TO_EVERYONE"},
    {1, "$$$/Vekta/PostProcess/TikTok/PrivacyOptionFollowers=Followers", u"FOLLOWER_OF_CREATOR"},
    {2, "$$$/Vekta/PostProcess/TikTok/PrivacyOptionFriends=Friends", u"MUTUAL_FOLLOW_FRIENDS"},
    {3, "$$$/Vekta/PostProcess/TikTok/PrivacyOptionSelf=Private", u"SELF_ONLY"},
    {kPrivacyCodeUnselected, "$$$/Vekta/PostProcess/TikTok/PrivacyOptionUnselected=Select an option...", u""},
}};

constexpr std::array<std::uint32_t, 3> kPublicAccountPrivacyCodes = {0, 2, 3};
constexpr std::array<std::uint32_t, 3> kPrivateAccountPrivacyCodes = {1, 2, 3};

constexpr std::size_t kPrivacyDefaultIndex = [] {
    for (std::size_t i = 0; i < kPrivacyOptions.size(); ++i)
        if (kPrivacyOptions[i].code == kPrivacyCodeUnselected) return i;
    return std::size_t{0};
}();

constexpr std::array<ParamDescriptor, kTikTokParameterCount> kTikTokParamDescriptors = {
    // 0: a one-entry popup that shows the account status.
    Param(kTikTokStatusTextID, kParamTypeInteger, kTikTokLoginSubGroupID,
          "$$$/Tessel/PostProcess/TikTok/VOXATikTokStatusText=Account"),
    // 1: reads Sign Out while signed in.
    Param(kTikTokLoginID, kParamTypeButton, kTikTokLoginSubGroupID, kSignInKey),
    // 2
    WithIntegers(Param(kTikTokPublishTypeID, kParamTypeInteger, kTikTokGroupID,
                       "$$$/Vekta/PostProcess/TikTok/PublishTypeLabel=Type",
                       "$$$/Vekta/PostProcess/TikTok/PublishTypeToolTip=Choose a type for the uploaded video"),
                 0, 1, static_cast<std::int32_t>(kPublishTypeDefaultIndex)),
    // 3
    WithFlags(Param(kTikTokFormatRequirementsID, kParamTypeButton, kTikTokGroupID,
                    "$$$/Vekta/PostProcess/TikTok/FormatRequirements=View format requirements for TikTok"),
              520),
    // 4
    WithFlags(Param(kTikTokCaptionID, kParamTypeText, kTikTokGroupID, "$$$/Tessel/PostProcess/TikTok/Caption=Caption",
                    "$$$/Tessel/PostProcess/TikTok/CaptionTip=Add a caption for the uploaded video"),
              8),
    // 5: once set, the default caption is never put back.
    Hidden(Param(kTikTokCaptionChangedID, kParamTypeCheckbox, kTikTokGroupID, "tempCaptionChanged")),
    // 6: the cover frame, counted in frames.
    Param(kTikTokCoverImageThumbnailTimeID, kParamTypeTime, kTikTokCoverImageSubGroupID,
          "$$$/Tessel/PostProcess/TikTok/CoverImageTime=Cover Image",
          "$$$/Tessel/PostProcess/TikTok/CoverImageTimeTip=Choose a frame from your video to be the cover image"),
    // 7
    Param(
        kTikTokCoverImageThumbnailTimeBtnID, kParamTypeButton, kTikTokCoverImageSubGroupID,
        "$$$/Tessel/PostProcess/TikTok/CoverImageBtn=Use Current Frame",
        "$$$/Tessel/PostProcess/TikTok/CoverImageBtnTip=Set custom thumbnail to the frame at playhead's current time"),
    // 8: the cover time in host ticks.
    Hidden(Param(kTikTokCoverImageThumbnailTimeTokenID, kParamTypeHiddenInt64, kTikTokGroupID, "tempCoverImageTimeID")),
    // 9: emptied whenever the cover frame changes.
    Hidden(Param(kTikTokCoverImageFileTokenID, kParamTypeByteArray, kTikTokGroupID, "tempCoverImageFile")),
    // 10 to 14: the creator's account, as the last creator-info query reported it.
    Hidden(Param(kTikTokPrivateAccountID, kParamTypeCheckbox, kTikTokGroupID, "tempAccountPrivacy")),
    Hidden(Param(kTikTokAccountCommentDisabledID, kParamTypeCheckbox, kTikTokGroupID, "tempAccountCommentDisabled")),
    Hidden(Param(kTikTokAccountDuetDisabledID, kParamTypeCheckbox, kTikTokGroupID, "tempAccountDuetDisabled")),
    Hidden(Param(kTikTokAccountStitchDisabledID, kParamTypeCheckbox, kTikTokGroupID, "tempAccountStitchDisabled")),
    Hidden(Param(kTikTokAccountMaxDurationID, kParamTypeInteger, kTikTokGroupID, "tempAccountMaxDuration")),
    // 15: the value is a position in kPrivacyOptions; nothing is chosen at first.
    WithIntegers(Param(kTikTokPrivacyID, kParamTypeInteger, kTikTokGroupID,
                       "$$$/Tessel/PostProcess/TikTok/Privacy=Privacy (required)",
                       "$$$/Tessel/PostProcess/TikTok/PrivacyTip=Determine who can watch the uploaded video"),
                 0, 0, static_cast<std::int32_t>(kPrivacyDefaultIndex)),
    // 16: the chosen option's API string.
    Hidden(Param(kTikTokPrivacyTokenID, kParamTypeByteArray, kTikTokGroupID, "tempPrivacyAPIString")),
    // 17 to 19: checked means viewers may; they start unchecked.
    Param(kTikTokCommentPermissionID, kParamTypeCheckbox, kTikTokPermissionsSubGroupID,
          "$$$/Tessel/PostProcess/TikTok/CommentPermission=Comment"),
    Param(kTikTokDuetPermissionID, kParamTypeCheckbox, kTikTokPermissionsSubGroupID,
          "$$$/Tessel/PostProcess/TikTok/DuetPermission=Duet"),
    Param(kTikTokStitchPermissionID, kParamTypeCheckbox, kTikTokPermissionsSubGroupID,
          "$$$/Tessel/PostProcess/TikTok/StitchPermission=Stitch"),
    // 20
    Param(kTikTokDeleteLocalFileID, kParamTypeCheckbox, kTikTokGroupID,
          "$$$/Tessel/PostProcess/TikTok/DeleteLocalFile=Delete local file after upload",
          "$$$/Tessel/PostProcess/TikTok/DeleteLocalFileTip=Delete the exported file after a successful upload"),
    // 21: a refresh token on its way from a finished sign-in to the next settings refresh.
    Hidden(Param(kTikTokRefreshTokenID, kParamTypeByteArray, kTikTokGroupID, "temp1")),
};

constexpr std::array<TikTokGroupDescriptor, 4> kTikTokGroups = {{
    {kTikTokGroupID, nullptr, &TikTokGroupTitle, 0, 1, 0, nullptr},
    {kTikTokLoginSubGroupID, kTikTokGroupID, nullptr, 0, 0, 0, nullptr},
    {kTikTokCoverImageSubGroupID, kTikTokGroupID, nullptr, 0, 0, 1, kTikTokCoverImageThumbnailTimeID},
    {kTikTokPermissionsSubGroupID, kTikTokGroupID, &TikTokPermissionsTitle, 0, 0, 1, kTikTokCommentPermissionID},
}};

const std::u16string& TikTokGroupTitle() {
    static const std::u16string title = talcore::config::Localizer::Get().Localize(kTikTokGroupNameKey);
    return title;
}

const std::u16string& TikTokPermissionsTitle() {
    static const std::u16string title = talcore::config::Localizer::Get().Localize(kTikTokPermissionLabelKey);
    return title;
}

const std::u16string& TikTokDefaultCaption() {
    static const std::u16string caption = u"#CorvaneSolvane";
    return caption;
}

}  // namespace Vekta
