// A program that does nothing; the build gives some copies a version block.
int main() { return 0; }
