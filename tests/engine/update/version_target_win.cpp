// version_target: a program with nothing but a version resource (version_target.rc, built as
// 2.5, 2.6 and 2.7), signed at test time for the same-signer rule's version check.
int main() { return 0; }
