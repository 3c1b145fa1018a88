#include "settings/SettingsBehaviour.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <mutex>
#include <optional>
#include <span>
#include <string>

#include "settings/HostRecordAccess.h"
#include "settings/ParameterAccess.h"
#include "settings/TikTokParameterTables.h"
#include "talcore/config/Localizer.h"
#include "talcore/string/Unicode.h"
#include "talcore/utility/OpenFileInDefaultApplication.h"
#include "tiktok/TikTokEndpoints.h"
#include "tiktok/TikTokUploader.h"

namespace Vekta {
namespace {

std::u16string Localized(std::string_view key) { return talcore::config::Localizer::Get().Localize(key); }

// The parameters of the instance behind `record`, with the TikTok table telling which are texts.
InstanceParameters ParametersOf(const LuSDKExportParamSuite& suite, const HostInstanceRecord& record) {
    return InstanceParameters(&suite, ReadInstanceID(&record), kTikTokParamDescriptors);
}

// A Draft greys out what only a post uses; going back to Post enables it again, except the
// permissions that the creator has turned off.
void ApplyPublishTypeDisabling(const InstanceParameters& p) {
    const bool draft = p.ReadInteger(kTikTokPublishTypeID) != kPublishTypePost;
    for (const char* id : kPublishTypeAffectedParameters) {
        const std::string_view name(id);
        const char* accountFlag = name == kTikTokCommentPermissionID  ? kTikTokAccountCommentDisabledID
                                  : name == kTikTokDuetPermissionID   ? kTikTokAccountDuetDisabledID
                                  : name == kTikTokStitchPermissionID ? kTikTokAccountStitchDisabledID
                                                                      : nullptr;
        if (accountFlag && p.ReadInteger(accountFlag) == 1) continue;
        p.SetDisabled(id, draft);
    }
}

// While nobody is signed in: "Select an option..." and then "Private".
constexpr std::array<std::uint32_t, 2> kSignedOutPrivacyCodes = {kPrivacyCodeUnselected, 3};

// Puts the options with `codes` into the privacy popup, in that order (a code is also the option's
// position). A choice that is not among them any more (another account, a private one) goes back
// to "Select an option...", and the stored privacy level follows the choice, so a post cannot go
// out with a level that this account may not use.
void FillPrivacyChoices(const InstanceParameters& p, std::span<const std::uint32_t> codes) {
    p.ClearChoices(kTikTokPrivacyID);
    for (const std::uint32_t code : codes) {
        p.AddChoice(kTikTokPrivacyID, static_cast<std::int32_t>(code), Localized(kPrivacyOptions[code].label));
    }
    const std::int32_t chosen = p.ReadInteger(kTikTokPrivacyID);
    const bool offered =
        chosen >= 0 && std::find(codes.begin(), codes.end(), static_cast<std::uint32_t>(chosen)) != codes.end();
    const std::size_t position = offered ? static_cast<std::size_t>(chosen) : kPrivacyDefaultIndex;
    if (!offered && chosen != static_cast<std::int32_t>(position))
        p.SetInteger(kTikTokPrivacyID, static_cast<std::int32_t>(position));
    p.SetArrayText(kTikTokPrivacyTokenID, std::u16string(kPrivacyOptions[position].apiString));
}

void RefillPrivacyOptions(const InstanceParameters& p) {
    const bool privateAccount = p.ReadInteger(kTikTokPrivateAccountID) == 1;
    FillPrivacyChoices(p, privateAccount ? kPrivateAccountPrivacyCodes : kPublicAccountPrivacyCodes);
}

void UpdateStatus(const InstanceParameters& p, const TikTokUploader* uploader) {
    if (!uploader) return;
    std::u16string tooltip;
    const std::u16string text = uploader->GetStatusText(tooltip);
    p.ClearChoices(kTikTokStatusTextID);
    p.AddChoice(kTikTokStatusTextID, 0, text);
    p.SetInteger(kTikTokStatusTextID, 0);
    if (!tooltip.empty()) p.SetDescription(kTikTokStatusTextID, tooltip);
}

// Both are bound to the instance's parameters, not to the uploader: they only write parameters.
TikTokUploader::LoginCallback MakeLoginCompletion(const InstanceParameters& p) {
    return [p](bool signedIn, const std::u16string& refreshToken) {
        if (!refreshToken.empty()) {
            p.SetArrayText(kTikTokRefreshTokenID, refreshToken);
        } else {
            p.ClearArray(kTikTokRefreshTokenID);
        }
        p.SetName(kTikTokLoginID, Localized(signedIn ? kSignOutKey : kSignInKey));
    };
}

void WriteCreatorInfo(const InstanceParameters& p, const TikTokCreatorInfo& info) {
    p.SetInteger(kTikTokPrivateAccountID, info.privateAccount ? 1 : 0);
    const struct {
        bool off;
        const char* flag;
        const char* permission;
    } permissions[] = {{info.commentDisabled, kTikTokAccountCommentDisabledID, kTikTokCommentPermissionID},
                       {info.duetDisabled, kTikTokAccountDuetDisabledID, kTikTokDuetPermissionID},
                       {info.stitchDisabled, kTikTokAccountStitchDisabledID, kTikTokStitchPermissionID}};
    for (const auto& permission : permissions) {
        p.SetInteger(permission.flag, permission.off ? 1 : 0);
        if (permission.off) p.SetDisabled(permission.permission, true);
    }
    p.SetInteger(kTikTokAccountMaxDurationID, info.maxVideoPostDurationSec);
}

TikTokUploader::CreatorInfoCallback MakeCreatorInfoCompletion(const InstanceParameters& p) {
    return [p](const TikTokCreatorInfo& info) { WriteCreatorInfo(p, info); };
}

// The account facts of no account, in the uploader and in the hidden parameters: what one account
// allowed must not carry over to the next (a private account's flag would keep "Everyone" away,
// and a permission that creator had turned off would stay greyed out).
void ForgetAccount(const InstanceParameters& p, TikTokUploader& uploader) {
    uploader.ForgetCreatorInfo();
    WriteCreatorInfo(p, uploader.GetCreatorInfo());
    ApplyPublishTypeDisabling(p);
}

// Brings the button, the account facts and the privacy choices in step with the account: the
// creator's capabilities while signed in; no account's after a sign-out or a sign-in that was
// cancelled, timed out or refused, and when the query itself finds the account gone (TikTok
// refused the refresh token).
void FollowAccount(const InstanceParameters& p, TikTokUploader& uploader) {
    if (uploader.HasCredentials()) {
        p.SetName(kTikTokLoginID, Localized(kSignOutKey));
        uploader.QueryCreatorInfo(MakeCreatorInfoCompletion(p));
    }
    if (uploader.HasCredentials()) {
        RefillPrivacyOptions(p);
    } else {
        p.SetName(kTikTokLoginID, Localized(kSignInKey));
        ForgetAccount(p, uploader);
        FillPrivacyChoices(p, kSignedOutPrivacyCodes);
    }
}

// The hidden refresh-token parameter at the end of a callback: emptied when it still holds
// `takenBack` (what the refresh gave to the uploader), then given the token that TikTok rotated in
// since the last hand-over, if any. One lock for every such write, so that a hand-over from an
// upload on another thread is never emptied by a refresh that has not seen it.
void SettleRefreshTokenParameter(const InstanceParameters& p, TikTokUploader& uploader,
                                 const std::u16string* takenBack) {
    static std::mutex writers;
    std::lock_guard lock(writers);
    if (takenBack && p.ReadArrayText(kTikTokRefreshTokenID) == *takenBack) p.ClearArray(kTikTokRefreshTokenID);
    std::u16string rotated;
    if (uploader.TakeRefreshTokenHandOver(rotated)) p.SetArrayText(kTikTokRefreshTokenID, rotated);
}

// frames * ticksPerFrame, held at the ends of the range instead of overflowing.
std::int64_t SaturatingMultiply(std::int64_t a, std::int64_t b) {
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
    if (a == 0 || b == 0) return 0;
    if (a > 0) {
        if (b > 0 ? a > kMax / b : b < kMin / a) return b > 0 ? kMax : kMin;
    } else {
        if (b > 0 ? a < kMin / b : b < kMax / a) return b > 0 ? kMin : kMax;
    }
    return a * b;
}

void UpdateCover(const InstanceParameters& p, TikTokUploader& uploader, bool fromButton) {
    std::int64_t ticks = p.ReadTime(kTikTokCoverImageThumbnailTimeTokenID);
    const std::int64_t frames = p.ReadTime(kTikTokCoverImageThumbnailTimeID);
    const std::int64_t ticksPerFrame = p.ReadTime(kHostTicksPerFrameID);
    if (ticksPerFrame != 0) {
        if (fromButton) {
            // The one quotient that overflows (minimum / -1) saturates instead.
            const bool overflows = ticks == std::numeric_limits<std::int64_t>::min() && ticksPerFrame == -1;
            p.SetTime(kTikTokCoverImageThumbnailTimeID,
                      overflows ? std::numeric_limits<std::int64_t>::max() : ticks / ticksPerFrame);
        } else {
            ticks = SaturatingMultiply(frames, ticksPerFrame);
            p.SetTime(kTikTokCoverImageThumbnailTimeTokenID, ticks);
        }
    }
    p.ClearArray(kTikTokCoverImageFileTokenID);
    uploader.SetCoverTime(ticks);
}

}  // namespace

std::int32_t RefreshTikTokParameters(const LuSDKExportParamSuite& suite, const HostInstanceRecord& record,
                                     TikTokUploader* uploader) {
    const InstanceParameters p = ParametersOf(suite, record);
    p.ClearChoices(kTikTokPublishTypeID);
    for (std::size_t position = 0; position < kPublishTypeOptions.size(); ++position) {
        p.AddChoice(kTikTokPublishTypeID, static_cast<std::int32_t>(position),
                    Localized(kPublishTypeOptions[position].label));
    }
    ApplyPublishTypeDisabling(p);
    p.SetName(kTikTokGroupID, TikTokGroupTitle());
    p.SetName(kTikTokPermissionsSubGroupID, TikTokPermissionsTitle());
    if (!uploader) return kCallbackFailed;

    p.SetHidden(kTikTokGroupID, !uploader->IsFormatSupported());
    if (!uploader->IsFormatSupported()) {
        uploader->SetArmed(false);
        return kCallbackDone;
    }
    for (std::size_t position = 0; position < kTikTokParamDescriptors.size(); ++position) {
        ApplyParameterTexts(p.Suite(), p.InstanceID(), position, kTikTokParamDescriptors);
    }
    if (p.ReadText(kTikTokCaptionID).empty() && p.ReadInteger(kTikTokCaptionChangedID) == 0) {
        p.SetInlineText(kTikTokCaptionID, TikTokDefaultCaption());
    }
    uploader->SetArmed(IsGroupEnabled(&record, kTikTokGroupID));

    const std::u16string handedOver = p.ReadArrayText(kTikTokRefreshTokenID);
    if (!handedOver.empty()) uploader->SetRefreshToken(handedOver);
    FollowAccount(p, *uploader);
    uploader->SetCoverTime(p.ReadTime(kTikTokCoverImageThumbnailTimeTokenID));
    UpdateStatus(p, uploader);
    // From here on the refresh token lives only in the uploader, unless TikTok has rotated it.
    SettleRefreshTokenParameter(p, *uploader, &handedOver);
    return kCallbackDone;
}

void HandOverRotatedRefreshToken(const LuSDKExportParamSuite& suite, const HostInstanceRecord& record,
                                 TikTokUploader& uploader) {
    SettleRefreshTokenParameter(ParametersOf(suite, record), uploader, nullptr);
}

void TikTokParameterChanged(const LuSDKExportParamSuite& suite, const HostInstanceRecord& record,
                            TikTokUploader& uploader, std::string_view parameterID) {
    const InstanceParameters p = ParametersOf(suite, record);
    if (parameterID == kTikTokLoginID) {
        if (!uploader.HasCredentials()) {
            // What the uploader still knows belongs to an account that is gone (signed out, or
            // refused by TikTok during an upload), not to the one signing in now.
            ForgetAccount(p, uploader);
            uploader.LoginBrowser(MakeLoginCompletion(p));
        } else {
            p.ClearArray(kTikTokRefreshTokenID);
            uploader.SignOut(true);
        }
        FollowAccount(p, uploader);
        UpdateStatus(p, &uploader);
    } else if (parameterID == kTikTokPublishTypeID) {
        ApplyPublishTypeDisabling(p);
    } else if (parameterID == kTikTokPrivacyID) {
        // A value that no option has stores no privacy level, which a post then refuses.
        const std::int32_t position = p.ReadInteger(kTikTokPrivacyID);
        const std::u16string level = position >= 0 && static_cast<std::size_t>(position) < kPrivacyOptions.size()
                                         ? std::u16string(kPrivacyOptions[static_cast<std::size_t>(position)].apiString)
                                         : std::u16string();
        p.SetArrayText(kTikTokPrivacyTokenID, level);
    } else if (parameterID == kTikTokCoverImageThumbnailTimeBtnID) {
        UpdateCover(p, uploader, true);
    } else if (parameterID == kTikTokCoverImageThumbnailTimeID) {
        UpdateCover(p, uploader, false);
    } else if (parameterID == kTikTokCaptionID) {
        p.SetInteger(kTikTokCaptionChangedID, 1);
    } else if (parameterID == kTikTokFormatRequirementsID) {
        const std::string key =
            "$$$/VektaSettingsUI/TikTokFormatRequirementsURL=" + TikTokEndpoints::FormatRequirementsURL();
        talcore::utility::OpenFileInDefaultApplication(talcore::string::UTF16to8(Localized(key)));
    }
    SettleRefreshTokenParameter(p, uploader, nullptr);
}

}  // namespace Vekta
