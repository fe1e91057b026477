// Keeps the support library non-empty before any helper lands.
namespace zvtest { int support_anchor = 0; }
