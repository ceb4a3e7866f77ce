-- The part of an access-control database that the card import reads and
-- writes: the issued cards, the card import table and the card validity
-- table. Plain SQL that both sqlite3 and psql accept:
--   sqlite3 dortex.db < dortex-schema.sql
--   psql -d dortex -f dortex-schema.sql
-- Every statement ends with a semicolon at the end of its line.

create table cards (
  card_number varchar(32) not null,
  name varchar(64),
  issued_dtm varchar(14)
);
create index cards_card_number on cards(card_number);

create table int_card_import (
  operation_code varchar(1) not null,
  staff_number varchar(32) not null,
  card_number varchar(32) not null,
  name varchar(64),
  Department varchar(32),
  access_level varchar(32),
  starting_date varchar(8) not null,
  expiry_date varchar(8) not null
);

create table card_validity (
  card_number varchar(32) not null,
  start_dtm varchar(14) not null,
  expiry_dtm varchar(14) not null,
  status varchar(1) not null
);
