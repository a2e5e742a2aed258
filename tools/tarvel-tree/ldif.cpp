// LDIF import and export of the embedded tree.
