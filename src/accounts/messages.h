// Texts of the account-set listing, spelled once.
#pragma once

namespace veltora::accounts_msg {

inline constexpr char kEnterSqlUser[] = "您好，请输入连接数据库的用户名！";
inline constexpr char kNoCataloguePrefix[] = "您好，没有找到您电脑上有安装";
inline constexpr char kNoCatalogueSuffix[] = "的账套文件。";
inline constexpr char kCannotConnect[] =
    "您好，程序无法与数据库建立连接，请检查用户名或密码是否输入有误，或者SQL "
    "Server服务是否启动！\r发生错误可能的原因为：";

}  // namespace veltora::accounts_msg
