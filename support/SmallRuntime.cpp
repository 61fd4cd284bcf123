// Lean replacements for parts of the C++ runtime that the module would
// otherwise link statically for little use. Together they are about a third
// of the module: the default terminate handler carries a symbol demangler,
// and the runtime's string-error throwers carry a second, reference-counted
// string implementation for their exception messages.
//
// Nothing in the module lets an exception escape (every COM method and window
// procedure catches), so the replacements only need to be caught as failures.
#include <cstdlib>
#include <new>

namespace {
// A misused library operation (an index out of range, an empty function
// called): a programming error, reported as E_UNEXPECTED by the boundary that
// catches it.
struct StringMisuse {};
}  // namespace

namespace __gnu_cxx {
void __verbose_terminate_handler()
{
    std::abort();
}
}  // namespace __gnu_cxx

namespace std {
void __throw_bad_alloc()
{
    throw bad_alloc();
}
void __throw_bad_array_new_length()
{
    throw bad_alloc();
}
// A string longer than it can ever be: no memory for it.
void __throw_length_error(const char*)
{
    throw bad_alloc();
}
void __throw_logic_error(const char*)
{
    throw StringMisuse();
}
void __throw_out_of_range(const char*)
{
    throw StringMisuse();
}
void __throw_out_of_range_fmt(const char*, ...)
{
    throw StringMisuse();
}
void __throw_invalid_argument(const char*)
{
    throw StringMisuse();
}
// An empty std::function called, a failed cast: programming errors too.
void __throw_bad_function_call()
{
    throw StringMisuse();
}
void __throw_bad_cast()
{
    throw StringMisuse();
}
// A lock the system could not take.
void __throw_system_error(int)
{
    throw StringMisuse();
}
}  // namespace std
