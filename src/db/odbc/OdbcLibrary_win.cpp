// The ODBC driver manager of the Windows program, taken from the system
// folder only and only when the first connection is opened. Imported at
// load time, odbc32.dll (not one of Windows' KnownDLLs) would be looked for
// in the program's folder first, before the program could judge that folder.
// Each ODBC function the program calls is defined here and forwards to the
// system's.
#include <windows.h>

#include <sql.h>
#include <sqlext.h>

#include <type_traits>

namespace {

HMODULE odbcLibrary()
{
    static const HMODULE library = ::LoadLibraryExW(L"odbc32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return library;
}

// Calls the system's function of the same name and type as Declared; a
// library or function that is not there fails the call as the driver
// manager would.
template <auto& Declared, typename... Args> SQLRETURN forward(const char* name, Args... args)
{
    using Function = std::remove_reference_t<decltype(Declared)>;
    static Function* const function = [name] {
        const HMODULE library = odbcLibrary();
        // Through void (*)(), which converts to any function type.
        return library == nullptr ? nullptr
                                  : reinterpret_cast<Function*>(
                                        reinterpret_cast<void (*)()>(::GetProcAddress(library, name)));
    }();
    return function == nullptr ? SQLRETURN(SQL_ERROR) : function(args...);
}

} // namespace

extern "C" {

SQLRETURN SQL_API SQLAllocHandle(SQLSMALLINT type, SQLHANDLE input, SQLHANDLE* output)
{
    return forward<SQLAllocHandle>("SQLAllocHandle", type, input, output);
}

SQLRETURN SQL_API SQLFreeHandle(SQLSMALLINT type, SQLHANDLE handle)
{
    return forward<SQLFreeHandle>("SQLFreeHandle", type, handle);
}

SQLRETURN SQL_API SQLSetEnvAttr(SQLHENV environment, SQLINTEGER attribute, SQLPOINTER value,
                                SQLINTEGER length)
{
    return forward<SQLSetEnvAttr>("SQLSetEnvAttr", environment, attribute, value, length);
}

SQLRETURN SQL_API SQLSetConnectAttrW(SQLHDBC connection, SQLINTEGER attribute, SQLPOINTER value,
                                     SQLINTEGER length)
{
    return forward<SQLSetConnectAttrW>("SQLSetConnectAttrW", connection, attribute, value, length);
}

SQLRETURN SQL_API SQLGetConnectAttrW(SQLHDBC connection, SQLINTEGER attribute, SQLPOINTER value,
                                     SQLINTEGER size, SQLINTEGER* length)
{
    return forward<SQLGetConnectAttrW>("SQLGetConnectAttrW", connection, attribute, value, size, length);
}

SQLRETURN SQL_API SQLDriverConnectW(SQLHDBC connection, SQLHWND window, SQLWCHAR* in, SQLSMALLINT inLength,
                                    SQLWCHAR* out, SQLSMALLINT outSize, SQLSMALLINT* outLength,
                                    SQLUSMALLINT completion)
{
    return forward<SQLDriverConnectW>("SQLDriverConnectW", connection, window, in, inLength, out, outSize,
                                      outLength, completion);
}

SQLRETURN SQL_API SQLDisconnect(SQLHDBC connection)
{
    return forward<SQLDisconnect>("SQLDisconnect", connection);
}

SQLRETURN SQL_API SQLDataSourcesW(SQLHENV environment, SQLUSMALLINT direction, SQLWCHAR* name,
                                  SQLSMALLINT nameSize, SQLSMALLINT* nameLength, SQLWCHAR* driver,
                                  SQLSMALLINT driverSize, SQLSMALLINT* driverLength)
{
    return forward<SQLDataSourcesW>("SQLDataSourcesW", environment, direction, name, nameSize, nameLength,
                                    driver, driverSize, driverLength);
}

SQLRETURN SQL_API SQLGetInfoW(SQLHDBC connection, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT size,
                              SQLSMALLINT* length)
{
    return forward<SQLGetInfoW>("SQLGetInfoW", connection, type, value, size, length);
}

SQLRETURN SQL_API SQLGetDiagRecW(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record, SQLWCHAR* state,
                                 SQLINTEGER* native, SQLWCHAR* message, SQLSMALLINT size, SQLSMALLINT* length)
{
    return forward<SQLGetDiagRecW>("SQLGetDiagRecW", type, handle, record, state, native, message, size,
                                   length);
}

SQLRETURN SQL_API SQLSetStmtAttrW(SQLHSTMT statement, SQLINTEGER attribute, SQLPOINTER value,
                                  SQLINTEGER length)
{
    return forward<SQLSetStmtAttrW>("SQLSetStmtAttrW", statement, attribute, value, length);
}

SQLRETURN SQL_API SQLExecDirectW(SQLHSTMT statement, SQLWCHAR* text, SQLINTEGER length)
{
    return forward<SQLExecDirectW>("SQLExecDirectW", statement, text, length);
}

SQLRETURN SQL_API SQLFetch(SQLHSTMT statement)
{
    return forward<SQLFetch>("SQLFetch", statement);
}

SQLRETURN SQL_API SQLNumResultCols(SQLHSTMT statement, SQLSMALLINT* columns)
{
    return forward<SQLNumResultCols>("SQLNumResultCols", statement, columns);
}

SQLRETURN SQL_API SQLGetData(SQLHSTMT statement, SQLUSMALLINT column, SQLSMALLINT type, SQLPOINTER value,
                             SQLLEN size, SQLLEN* length)
{
    return forward<SQLGetData>("SQLGetData", statement, column, type, value, size, length);
}

SQLRETURN SQL_API SQLFreeStmt(SQLHSTMT statement, SQLUSMALLINT option)
{
    return forward<SQLFreeStmt>("SQLFreeStmt", statement, option);
}

SQLRETURN SQL_API SQLEndTran(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT completion)
{
    return forward<SQLEndTran>("SQLEndTran", type, handle, completion);
}

} // extern "C"
