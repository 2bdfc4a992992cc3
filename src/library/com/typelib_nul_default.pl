#!/usr/bin/perl
# typelib_nul_default.pl TLB: turns the string default "\0" that widl wrote into syskit.tlb into
# the one-character text NUL it stands for, in place.
#
# ReadString's sDefault defaults to the text holding the single character NUL, and the type library
# must give exactly that text, since hosts that bind arguments from type information pass it as the
# argument. widl cannot write it: it copies escape sequences into string defaults as they are
# written ("\0" becomes backslash and zero) and measures texts with strlen (a NUL ends them). A
# string default in the type library is its type (VT_BSTR, 2 bytes), its length (4 bytes) and its
# bytes, padded with 'W' to a multiple of four; the 2-byte text and the 1-byte one take the same
# 8 bytes, so the record is rewritten where it stands and nothing else in the file moves. The build
# fails when no such default is found (widl changed how it writes them), so the check cannot pass
# by silently keeping widl's text.
use strict;
use warnings;

my $file = shift or die "usage: typelib_nul_default.pl TLB\n";
open(my $in, '<:raw', $file) or die "typelib_nul_default: cannot read $file: $!\n";
my $typelib = do { local $/; <$in> };
close($in);

my $written = pack('v V', 8, 2) . "\\0";
my $meant = pack('v V', 8, 1) . "\0W";
my $count = ($typelib =~ s/\Q$written\E/$meant/g);
die "typelib_nul_default: $file has no string default \"\\0\"\n" unless $count;

open(my $out, '>:raw', "$file.part") or die "typelib_nul_default: cannot write $file.part: $!\n";
print {$out} $typelib or die "typelib_nul_default: cannot write $file.part: $!\n";
close($out) or die "typelib_nul_default: cannot write $file.part: $!\n";
rename("$file.part", $file) or die "typelib_nul_default: cannot replace $file: $!\n";
