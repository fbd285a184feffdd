#include "records/fields.h"

#include "records/encoding.h"
#include "records/number.h"

#include <algorithm>
#include <cstddef>

// The names are GBK bytes, the same whatever the compiler does with the
// source's own texts: 学号 姓名 年龄 性别 出生年月 (or 出生日期) 地址 (家庭住址,
// 住址) 电话 (电话号码, 手机, 手机号, 联系电话) E-mail (Email, 邮箱, 电子邮件, 电子邮箱).
const field_info fields[field_count] = {
    {"\xd1\xa7\xba\xc5", "", offsetof(student, id), sizeof student::id - 1},
    {"\xd0\xd5\xc3\xfb", "", offsetof(student, name), sizeof student::name - 1},
    {"\xc4\xea\xc1\xe4", "", offsetof(student, age), 0, true},
    {"\xd0\xd4\xb1\xf0", "", offsetof(student, sex), sizeof student::sex - 1},
    {"\xb3\xf6\xc9\xfa\xc4\xea\xd4\xc2", "\xb3\xf6\xc9\xfa\xc8\xd5\xc6\xda", offsetof(student, birth),
     sizeof student::birth - 1},
    {"\xb5\xd8\xd6\xb7", "\xbc\xd2\xcd\xa5\xd7\xa1\xd6\xb7,\xd7\xa1\xd6\xb7", offsetof(student, address),
     sizeof student::address - 1},
    {"\xb5\xe7\xbb\xb0",
     "\xb5\xe7\xbb\xb0\xba\xc5\xc2\xeb,\xca\xd6\xbb\xfa,\xca\xd6\xbb\xfa\xba\xc5,\xc1\xaa\xcf\xb5\xb5\xe7\xbb\xb0",
     offsetof(student, phone), sizeof student::phone - 1},
    {"E-mail", "Email,\xd3\xca\xcf\xe4,\xb5\xe7\xd7\xd3\xd3\xca\xbc\xfe,\xb5\xe7\xd7\xd3\xd3\xca\xcf\xe4",
     offsetof(student, email), sizeof student::email - 1},
};

char* text_of(student& r, const field_info& f)
{
    return reinterpret_cast<char*>(&r) + f.at;
}

const char* text_of(const student& r, const field_info& f)
{
    return reinterpret_cast<const char*>(&r) + f.at;
}

std::int32_t& number_of(student& r, const field_info& f)
{
    return *reinterpret_cast<std::int32_t*>(text_of(r, f));
}

std::string value_text(const student& r, const field_info& f)
{
    return f.number ? std::to_string(number_of(const_cast<student&>(r), f)) : std::string(text_of(r, f));
}

void put_text(student& r, const field_info& f, std::string_view v)
{
    std::size_t len = v.copy(text_of(r, f), f.cap);
    text_of(r, f)[len] = '\0';
}

namespace {

value_fault check_text(std::string_view v, std::size_t cap, bool cut)
{
    if (v.empty())
        return value_fault::empty;
    if (std::any_of(v.begin(), v.end(), blank))
        return value_fault::blank;
    if (std::any_of(v.begin(), v.end(), control))
        return value_fault::control;
    if (cut)
        return value_fault::too_long;
    // A byte that starts no character, or a pair shaped like GBK that is
    // none, has no Unicode form: a value holding one could not be exported.
    std::string u;
    if (!gbk_to_utf8(v, u))
        return value_fault::not_gbk;
    return v.size() > cap ? value_fault::too_long : value_fault::none;
}

} // namespace

value_fault store(student& r, const field_info& f, std::string_view v, bool cut)
{
    if (f.number)
        return !cut && parse_int(v, number_of(r, f)) ? value_fault::none : value_fault::not_number;
    value_fault why = check_text(v, f.cap, cut);
    if (why == value_fault::none)
        put_text(r, f, v);
    return why;
}
