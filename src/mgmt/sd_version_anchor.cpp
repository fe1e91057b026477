// Keeps the library non-empty before its functions land.
namespace zvapi { int library_anchor = 0; }
