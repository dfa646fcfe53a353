// Tests of commands.
