#!/usr/bin/env escript
%% -*- erlang -*-
%% Erlang side of the PER and BER cross-check. DIR is the output of
%% "crosscheck.py prepare": the Erlang copy of the modules compiled under
%% DIR/per, DIR/uper and DIR/ber, and DIR/types.eterm (DIR/types_ber.eterm for
%% the BER copy) describing every type.
%%
%%   oracle.escript DIR RULE gen MODULE TYPE COUNT SEED
%%       COUNT random values of MODULE.TYPE, one encoding per line (hex).
%%   oracle.escript DIR RULE recode MODULE TYPE
%%       Per line of hex on stdin: decode, encode again, print the hex, or
%%       "error <reason>" when either step fails.
%%   oracle.escript DIR RULE print MODULE TYPE
%%       Per line of hex on stdin: the decoded Erlang term, for failure reports.
%%   oracle.escript DIR RULE save MODULE TYPE FILE
%%       Per line of hex on stdin: the decoded value, all of them written to
%%       FILE (external term format).
%%   oracle.escript DIR RULE load MODULE TYPE FILE
%%       The values of FILE, each encoded, one line of hex each. With save
%%       under one rule and load under the other, this converts encodings.
%%   oracle.escript DIR RULE bench MODULE TYPE ROUNDS
%%       Per line of hex on stdin one value; decodes and encodes the whole
%%       corpus ROUNDS times and prints "encode NS decode NS" (ns per message).
%%
%% RULE is per (aligned PER), uper (unaligned PER) or ber.
-mode(compile).

main([Dir, Rule, Cmd | Args]) when Rule =:= "per"; Rule =:= "uper"; Rule =:= "ber" ->
    true = code:add_patha(filename:join(Dir, Rule)),
    put(types_file, case Rule of "ber" -> "types_ber.eterm"; _ -> "types.eterm" end),
    run(Dir, Cmd, Args);
main(_) ->
    io:format(standard_error, "usage: oracle.escript DIR per|uper|ber gen|recode|print|save|load|bench ...~n", []),
    halt(2).

run(Dir, "gen", [Mod, Type, Count, Seed]) ->
    {ok, Terms} = file:consult(filename:join(Dir, get(types_file))),
    Types = maps:from_list(Terms),
    _ = rand:seed(exsss, {list_to_integer(Seed), 16#5eed, 16#c0de}),
    M = list_to_atom(Mod),
    T = list_to_atom(Type),
    gen_lines(Types, M, T, list_to_integer(Count));
run(_Dir, "recode", [Mod, Type]) ->
    M = list_to_atom(Mod),
    T = list_to_atom(Type),
    each_line(fun(Bin) -> io:put_chars([recode(M, T, Bin), $\n]) end);
run(_Dir, "print", [Mod, Type]) ->
    M = list_to_atom(Mod),
    T = list_to_atom(Type),
    each_line(fun(Bin) -> io:format("~p~n", [catch M:decode(T, Bin)]) end);
run(_Dir, "save", [Mod, Type, File]) ->
    M = list_to_atom(Mod),
    T = list_to_atom(Type),
    Values = [begin {ok, V} = M:decode(T, B), V end || B <- read_corpus([])],
    ok = file:write_file(File, term_to_binary(Values));
run(_Dir, "load", [Mod, Type, File]) ->
    M = list_to_atom(Mod),
    T = list_to_atom(Type),
    {ok, Bin} = file:read_file(File),
    [begin {ok, Out} = M:encode(T, V), io:put_chars([hex(iolist_to_binary(Out)), $\n]) end
     || V <- binary_to_term(Bin)],
    ok;
run(_Dir, "bench", [Mod, Type, Rounds]) ->
    M = list_to_atom(Mod),
    T = list_to_atom(Type),
    bench(M, T, list_to_integer(Rounds));
run(_, Cmd, _) ->
    io:format(standard_error, "unknown command ~s~n", [Cmd]),
    halt(2).

%% --- lines of hex -----------------------------------------------------------

each_line(F) ->
    case io:get_line("") of
        eof -> ok;
        Line ->
            case string:trim(Line) of
                "" -> ok;
                Hex -> F(binary:decode_hex(list_to_binary(Hex)))
            end,
            each_line(F)
    end.

read_corpus(Acc) ->
    case io:get_line("") of
        eof -> lists:reverse(Acc);
        Line ->
            case string:trim(Line) of
                "" -> read_corpus(Acc);
                Hex -> read_corpus([binary:decode_hex(list_to_binary(Hex)) | Acc])
            end
    end.

hex(Bin) -> string:lowercase(binary_to_list(binary:encode_hex(Bin))).

recode(M, T, Bin) ->
    case catch M:decode(T, Bin) of
        {ok, Val} ->
            case catch M:encode(T, Val) of
                {ok, Out} -> hex(iolist_to_binary(Out));
                E -> io_lib:format("error encode ~0p", [E])
            end;
        {ok, Val, _Rest} ->
            case catch M:encode(T, Val) of
                {ok, Out} -> hex(iolist_to_binary(Out));
                E -> io_lib:format("error encode ~0p", [E])
            end;
        E -> io_lib:format("error decode ~0p", [E])
    end.

gen_lines(_Types, _M, _T, 0) -> ok;
gen_lines(Types, M, T, N) ->
    Val = value(Types, {ref, M, T}),
    case catch M:encode(T, Val) of
        {ok, Out} -> io:put_chars([hex(iolist_to_binary(Out)), $\n]);
        E -> io:format(standard_error, "cannot encode ~0p: ~0p~n", [Val, E]), halt(1)
    end,
    gen_lines(Types, M, T, N - 1).

%% --- random values ----------------------------------------------------------
%% Values stay inside what our value model holds: unconstrained INTEGERs are
%% signed 32-bit, lists and strings stay far below the decoder's limits, and
%% enumerations take only their listed values.

value(Types, {ref, M, T}) -> def(Types, maps:get({M, T}, Types));
value(_, integer) -> any_int32();
value(_, {integer, Lo, Hi}) -> ranged(Lo, Hi);
value(_, boolean) -> rand:uniform(2) =:= 1;
value(_, null) -> 'NULL';
value(_, ia5string) -> [rand:uniform(128) - 1 || _ <- lists:seq(1, str_len())];
value(_, {ia5string, Lo, Hi}) -> [rand:uniform(128) - 1 || _ <- lists:seq(1, ranged(Lo, Hi))];
value(_, octetstring) -> rand:bytes(str_len());
value(_, oid) ->
    list_to_tuple([rand:uniform(3) - 1, rand:uniform(40) - 1 | [rand:uniform(1 bsl 20) - 1 || _ <- lists:seq(1, rand:uniform(5) - 1)]]);
value(Types, {seqof, E}) -> [value(Types, E) || _ <- lists:seq(1, list_len())];
value(Types, {setof, E}) -> [value(Types, E) || _ <- lists:seq(1, list_len())].

def(Types, {sequence, Record, Root, Adds}) ->
    Fields = [case Opt andalso rand:uniform(2) =:= 1 of
                  true -> asn1_NOVALUE;
                  false -> value(Types, T)
              end || {_, T, Opt} <- Root]
        ++ [case rand:uniform(2) of 1 -> asn1_NOVALUE; 2 -> value(Types, T) end || {_, T} <- Adds],
    list_to_tuple([Record | Fields]);
def(Types, {choice, Root, Ext}) ->
    All = Root ++ Ext,
    {Alt, T} = lists:nth(rand:uniform(length(All)), All),
    {Alt, value(Types, T)};
def(_, {enumerated, Names}) -> lists:nth(rand:uniform(length(Names)), Names);
def(_, {enumvalues, Values}) -> lists:nth(rand:uniform(length(Values)), Values);
def(Types, T) -> value(Types, T).

any_int32() ->
    Edges = [0, 1, -1, 63, 64, 127, 128, -128, -129, 255, 256, 32767, 32768, -32768, -32769,
             65535, 65536, 16#7FFFFF, 16#800000, -16#800000, -16#800001,
             16#7FFFFFFF, -16#80000000],
    case rand:uniform(3) of
        1 -> lists:nth(rand:uniform(length(Edges)), Edges);
        2 -> rand:uniform(2001) - 1001;
        3 -> rand:uniform(1 bsl 32) - 1 - (1 bsl 31)
    end.

ranged(Lo, Hi) ->
    case rand:uniform(5) of
        1 -> Lo;
        2 -> Hi;
        _ -> Lo + rand:uniform(Hi - Lo + 1) - 1
    end.

str_len() ->
    case rand:uniform(20) of
        1 -> 0;
        2 -> 100 + rand:uniform(200);   % two-octet length determinants
        _ -> rand:uniform(16)
    end.

list_len() ->
    case rand:uniform(10) of
        1 -> 0;
        2 -> 4 + rand:uniform(6);
        _ -> rand:uniform(3)
    end.

%% --- benchmark --------------------------------------------------------------

bench(M, T, Rounds) ->
    Corpus = read_corpus([]),
    Values = [begin {ok, V} = M:decode(T, B), V end || B <- Corpus],
    N = length(Corpus) * Rounds,
    EncNs = timed(fun() -> [ {ok, _} = M:encode(T, V) || V <- Values ] end, Rounds),
    DecNs = timed(fun() -> [ {ok, _} = M:decode(T, B) || B <- Corpus ] end, Rounds),
    io:format("encode ~.1f decode ~.1f~n", [EncNs / N, DecNs / N]).

%% Best of five runs of Rounds calls, like our side measures.
timed(F, Rounds) ->
    _ = F(),   % warm up
    lists:min([begin
                   T0 = erlang:monotonic_time(nanosecond),
                   loop(F, Rounds),
                   erlang:monotonic_time(nanosecond) - T0
               end || _ <- lists:seq(1, 5)]).

loop(_, 0) -> ok;
loop(F, K) -> _ = F(), loop(F, K - 1).
