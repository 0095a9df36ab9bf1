// The texts of the string table, English and Japanese (UTF-8).
// Shared by the resource script and the host build, which has no resources.
#pragma once

#define STR_EN_VERIFY_FAILED "Couldn't verify %1."
#define STR_EN_INTERNAL_ERROR "Internal error. Bad download?"
#define STR_EN_INSTALL_FAILED "Install Failed. Bad download?"
#define STR_EN_UNZIPPING "Unzipping %1"
#define STR_EN_FILE_EXISTS "%1 exists. Replace?"
#define STR_EN_CREATE_FAILED "Couldn't create %1. Click OK to continue, or Cancel to exit immediately."
#define STR_EN_READ_ERROR "Error reading from archive."
#define STR_EN_WRITE_FAILED "Couldn't write %1. The disk may be full. Click OK to continue, or Cancel to exit immediately."
#define STR_EN_FOLDER_UNUSABLE "This program's folder name cannot be used. Move the program to another folder."
#define STR_EN_NO_SAFE_FOLDER "Couldn't create a protected folder. Nothing was installed."
#define STR_JA_VERIFY_FAILED "%1 を検査することができません."
#define STR_JA_INTERNAL_ERROR "内部ｴﾗｰです. ﾀﾞｳﾝﾛｰﾄﾞが失敗しています."
#define STR_JA_INSTALL_FAILED "ｲﾝｽﾄｰﾙは失敗しました. ﾀﾞｳﾝﾛｰﾄﾞが失敗しています."
#define STR_JA_UNZIPPING "%1 を解凍中です"
#define STR_JA_FILE_EXISTS "%1 はすでに存在します. 上書きしますか?"
#define STR_JA_CREATE_FAILED "%1を作成できません. OKﾎﾞﾀﾝを押すと続行します.  ｷｬﾝｾﾙﾎﾞﾀﾝを押すとただちに終了します."
#define STR_JA_READ_ERROR "ｱｰｶｲﾌﾞから読み込み時にｴﾗｰが発生しました."
#define STR_JA_WRITE_FAILED "%1に書き込めません. ﾃﾞｨｽｸがいっぱいの可能性があります. OKﾎﾞﾀﾝを押すと続行します.  ｷｬﾝｾﾙﾎﾞﾀﾝを押すとただちに終了します."
#define STR_JA_FOLDER_UNUSABLE "このﾌﾟﾛｸﾞﾗﾑのﾌｫﾙﾀﾞ名は使えません. 別のﾌｫﾙﾀﾞに移してください."
#define STR_JA_NO_SAFE_FOLDER "保護されたﾌｫﾙﾀﾞを作成できません. 何もｲﾝｽﾄｰﾙされていません."
