// Tests of filopen.
